#include "platform/http/wininet/bounded_call.h"

#include <cstring>
#include <new>

#include "platform/library_pin.h"

namespace quorel {
namespace {

// Shared by the caller and the call's thread; the last of the two to let go frees it.
struct PendingCall {
  HINTERNET request;
  uint8_t* data;  // a write's own copy of the bytes; null for the query
  DWORD count;    // the bytes to write, or those the query found available
  HANDLE done;
  LONG holders;
  BOOL succeeded;
};

void LetGo(PendingCall* call) {
  if (InterlockedDecrement(&call->holders) == 0) {
    if (call->done != nullptr) CloseHandle(call->done);
    delete[] call->data;
    delete call;
  }
}

DWORD WINAPI RunCall(void* context) {
  auto* call = static_cast<PendingCall*>(context);
  if (call->data == nullptr) {
    call->succeeded = InternetQueryDataAvailable(call->request, &call->count, 0, 0);
  } else {
    DWORD written = 0;
    call->succeeded = InternetWriteFile(call->request, call->data, call->count, &written) &&
                      written == call->count;
  }
  SetEvent(call->done);
  LetGo(call);
  return 0;
}

// Runs the call and waits for it at most limitMs; call is the caller's to let go of afterwards.
CallOutcome RunWithin(PendingCall* call, uint32_t limitMs) {
  call->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (call->done == nullptr) return CallOutcome::kFailed;
  // The thread may outlive the call, and the host may unload the library meanwhile.
  KeepThisLibraryLoaded();
  InterlockedIncrement(&call->holders);
  HANDLE thread = CreateThread(nullptr, 0, RunCall, call, 0, nullptr);
  if (thread == nullptr) {
    InterlockedDecrement(&call->holders);
    return CallOutcome::kFailed;
  }
  CloseHandle(thread);
  if (WaitForSingleObject(call->done, limitMs) != WAIT_OBJECT_0) return CallOutcome::kTimedOut;
  return call->succeeded ? CallOutcome::kSucceeded : CallOutcome::kFailed;
}

PendingCall* NewCall(HINTERNET request) {
  return new (std::nothrow) PendingCall{request, nullptr, 0, nullptr, 1, FALSE};
}

}  // namespace

CallOutcome QueryDataAvailableWithin(HINTERNET request, uint32_t limitMs, DWORD* available) {
  PendingCall* call = NewCall(request);
  if (call == nullptr) return CallOutcome::kFailed;
  const CallOutcome outcome = RunWithin(call, limitMs);
  if (outcome == CallOutcome::kSucceeded) *available = call->count;
  LetGo(call);
  return outcome;
}

CallOutcome WriteWithin(HINTERNET request, const void* data, uint32_t count, uint32_t limitMs) {
  PendingCall* call = NewCall(request);
  if (call == nullptr) return CallOutcome::kFailed;
  call->data = new (std::nothrow) uint8_t[count];
  if (call->data == nullptr) {
    LetGo(call);
    return CallOutcome::kFailed;
  }
  std::memcpy(call->data, data, count);
  call->count = count;
  const CallOutcome outcome = RunWithin(call, limitMs);
  LetGo(call);
  return outcome;
}

}  // namespace quorel
