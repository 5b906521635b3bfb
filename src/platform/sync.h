// A lock and a condition for state shared with a platform callback thread. Each system gives
// their storage (sync_posix.h, sync_windows.h) and their functions.
//
// What every backend guarantees:
// - Both are constant-initialised and need no destruction, so a static instance costs
//   nothing at load time and stays usable until the process ends.
// - Acquire blocks until the lock is free and never fails; the lock is not recursive, and
//   only the thread that holds it releases it.
// - Wait releases the lock and sleeps as one step, so a WakeAll by a thread that took the lock
//   after it cannot be missed; it holds the lock again on return and may return spuriously,
//   so a caller waits in a loop on its own condition. WakeAll wakes every waiting thread.
#pragma once

#if defined(_WIN32)
#include "platform/os/windows/sync_windows.h"
#else
#include "platform/os/posix/sync_posix.h"
#endif

namespace quorel {

class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire();
  void Release();

 private:
  friend class Condition;
  NativeLock native_ = kUnusedNativeLock;
};

class Condition {
 public:
  constexpr Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Releases lock while waiting and holds it again on return; may return spuriously.
  void Wait(Lock& lock);
  void WakeAll();

 private:
  NativeCondition native_ = kUnusedNativeCondition;
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ~LockGuard() { lock_.Release(); }

 private:
  Lock& lock_;
};

}  // namespace quorel
