// Which call of a wrapped backend table fails: a wrapper asks ShouldFail before each fallible
// call and fails the call instead of making it when told to. The calls are numbered from 1 in
// the order they come; call N fails, and with kPersistent every call after it too. A test runs
// a path with N = 1, 2, 3, ... until a run no longer reaches call N: that run made N - 1 calls,
// all of them passing. The calls of one run must not overlap (the count is a plain one).
#pragma once

namespace quorel::test {

class FaultCountdown {
 public:
  enum class Mode { kTransient, kPersistent };

  FaultCountdown(int failingCall, Mode mode) : failingCall_(failingCall), mode_(mode) {}

  // Whether call number call fails.
  bool Fails(int call) const {
    return mode_ == Mode::kPersistent ? call >= failingCall_ : call == failingCall_;
  }
  // Counts one call; true when it is to fail.
  bool ShouldFail() { return Fails(++calls_); }
  int Calls() const { return calls_; }
  // Whether the run got as far as the failing call.
  bool Reached() const { return calls_ >= failingCall_; }

 private:
  int failingCall_;
  Mode mode_;
  int calls_ = 0;
};

}  // namespace quorel::test
