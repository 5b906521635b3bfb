// WinINet's blocking calls within a time limit of the caller's own. WinINet bounds each wait
// with its send and receive timeouts, but under Wine a timeout set once the request has begun
// (a send timeout) or once the answer's head has been read (a receive timeout) no longer reaches
// the socket, so a write into a connection the server drains slowly, or the wait for the
// answer's next byte, could outlast the whole-exchange deadline by up to one stall limit.
// Here the call runs on a thread of its own; when the limit passes first, the caller goes on,
// and that thread ends with the call: when the server moves, at the socket's own timeout, or
// when the handle is closed (which Windows documents as cancelling it). WinINet holds the
// request's object until the call returns, so closing the handle meanwhile is safe; a write
// sends a copy of the caller's bytes.
#pragma once

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wininet.h>

#include <cstdint>

namespace quorel {

enum class CallOutcome { kSucceeded, kFailed, kTimedOut };

CallOutcome QueryDataAvailableWithin(HINTERNET request, uint32_t limitMs, DWORD* available);
// Succeeds when all count bytes were written.
CallOutcome WriteWithin(HINTERNET request, const void* data, uint32_t count, uint32_t limitMs);

}  // namespace quorel
