#include "platform/http/wininet/bounded_query.h"

#include <new>

#include "platform/library_pin.h"

namespace quorel {
namespace {

// Shared by the caller and the query's thread; the last of the two to let go frees it.
struct PendingQuery {
  HINTERNET request;
  HANDLE done;
  LONG holders;
  BOOL succeeded;
  DWORD available;
};

void LetGo(PendingQuery* query) {
  if (InterlockedDecrement(&query->holders) == 0) {
    CloseHandle(query->done);
    delete query;
  }
}

DWORD WINAPI RunQuery(void* context) {
  auto* query = static_cast<PendingQuery*>(context);
  query->succeeded = InternetQueryDataAvailable(query->request, &query->available, 0, 0);
  SetEvent(query->done);
  LetGo(query);
  return 0;
}

}  // namespace

QueryOutcome QueryDataAvailableWithin(HINTERNET request, uint32_t limitMs, DWORD* available) {
  auto* query = new (std::nothrow) PendingQuery{request, nullptr, 2, FALSE, 0};
  if (query == nullptr) return QueryOutcome::kFailed;
  query->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // The thread may outlive the call, and the host may unload the library meanwhile.
  KeepThisLibraryLoaded();
  HANDLE thread =
      query->done != nullptr ? CreateThread(nullptr, 0, RunQuery, query, 0, nullptr) : nullptr;
  if (thread == nullptr) {
    if (query->done != nullptr) CloseHandle(query->done);
    delete query;
    return QueryOutcome::kFailed;
  }
  CloseHandle(thread);
  QueryOutcome outcome = QueryOutcome::kTimedOut;
  if (WaitForSingleObject(query->done, limitMs) == WAIT_OBJECT_0) {
    outcome = query->succeeded ? QueryOutcome::kAnswered : QueryOutcome::kFailed;
    *available = query->available;
  }
  LetGo(query);
  return outcome;
}

}  // namespace quorel
