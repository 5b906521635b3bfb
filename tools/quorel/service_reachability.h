// The service this build of the library talks to, and what stands between the tool and it when
// the library could not begin an exchange (result code 5).
#pragma once

#include <string>

namespace quorel::tool {

struct ServiceEndpoint {
  std::string host;
  int port = 0;
  std::string caFile;  // empty: the system's trust store
  bool acceptMismatchedNames = false;
};

// "https://localhost:443/" and the trust store, for --version.
std::string DescribeServiceEndpoint(const ServiceEndpoint& endpoint);

// Resolves the host, connects, and makes a TLS handshake of its own against the same trust
// store, and says which step failed: the name does not resolve, the connection is refused or
// times out, or the certificate is not trusted. Names host and port in every case.
std::string DiagnoseUnreachable(const ServiceEndpoint& endpoint);

}  // namespace quorel::tool
