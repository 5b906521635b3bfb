// InternetQueryDataAvailable within a time limit of the caller's own. WinINet bounds each wait
// for the answer with its receive timeout, but under Wine a timeout set once the answer's head
// has been read no longer reaches the socket, so the wait for the next byte could outlast the
// whole-exchange deadline by up to one stall limit. Here the query runs on a thread of its own;
// when the limit passes first, the caller goes on, and that thread ends with the query: at the
// next byte, at the socket's own timeout, or when the handle is closed (which Windows documents
// as cancelling it). WinINet holds the request's object until the query returns, so closing the
// handle meanwhile is safe.
#pragma once

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wininet.h>

#include <cstdint>

namespace quorel {

enum class QueryOutcome { kAnswered, kFailed, kTimedOut };

QueryOutcome QueryDataAvailableWithin(HINTERNET request, uint32_t limitMs, DWORD* available);

}  // namespace quorel
