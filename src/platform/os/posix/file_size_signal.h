// A write that would take a file past the process's size limit (RLIMIT_FSIZE) raises SIGXFSZ,
// whose default disposition ends the process, before it fails with EFBIG. The library turns
// that into a short write: while a FileSizeSignalHeld lives, SIGXFSZ is blocked on the calling
// thread, and one raised meanwhile is taken off again, so neither the host nor its handler
// ever sees it. A thread started meanwhile (a sound server client's own) keeps it blocked.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace quorel {

class FileSizeSignalHeld {
 public:
  FileSizeSignalHeld() {
    sigemptyset(&signal_);
    sigaddset(&signal_, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &signal_, &previous_);
    sigset_t pending;
    sigpending(&pending);
    // One that was pending before is the host's, and stays.
    pendingBefore_ = sigismember(&pending, SIGXFSZ) == 1;
  }
  ~FileSizeSignalHeld() {
    if (!pendingBefore_) {
      const timespec now{0, 0};
      while (sigtimedwait(&signal_, nullptr, &now) == SIGXFSZ) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  FileSizeSignalHeld(const FileSizeSignalHeld&) = delete;
  FileSizeSignalHeld& operator=(const FileSizeSignalHeld&) = delete;

 private:
  sigset_t signal_;
  sigset_t previous_;
  bool pendingBefore_ = false;
};

}  // namespace quorel
