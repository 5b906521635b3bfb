// A lock and a condition for state shared with a platform callback thread. Both are
// constant-initialised, so a static instance costs nothing at load time.
#pragma once

#if defined(_WIN32)
#include "platform/windows/sync_windows.h"
#else
#include "platform/posix/sync_posix.h"
#endif

namespace quorel {

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
