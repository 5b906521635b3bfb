// A plain TCP connection to a port on 127.0.0.1, for clients that only need to hold a
// connection open (a silent crowd) or to see whether something listens.
#pragma once

namespace quorel::test {

// The connected descriptor, or -1 when nothing accepts on the port.
int ConnectLoopback(int port);

}  // namespace quorel::test
