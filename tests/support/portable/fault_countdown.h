// Which fallible call of a run fails: the Nth one only (a transient fault) or the Nth and every
// one after it (a persistent fault). A wrapper over a backend's table asks it once per call; a
// test runs a path with N = 1, 2, 3, ... until a run no longer reaches call N: that run made
// N - 1 calls, all of them passing. Safe to ask from several threads.
#pragma once

#include <atomic>

namespace quorel::test {

class FaultCountdown {
 public:
  enum class Mode { kTransient, kPersistent };

  FaultCountdown(int failingCall, Mode mode) : failingCall_(failingCall), mode_(mode) {}

  // Whether call number call (counting from 1) fails.
  bool Fails(int call) const {
    return mode_ == Mode::kTransient ? call == failingCall_ : call >= failingCall_;
  }
  // Counts one more call and says whether it fails.
  bool NextFails() { return Fails(++calls_); }
  int Calls() const { return calls_; }
  // Whether the run got as far as the failing call.
  bool Reached() const { return calls_ >= failingCall_; }

 private:
  const int failingCall_;
  const Mode mode_;
  std::atomic<int> calls_{0};
};

}  // namespace quorel::test
