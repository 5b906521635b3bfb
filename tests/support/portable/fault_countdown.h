// Which call of a wrapped backend table fails: a wrapper asks ShouldFail before each fallible
// call and fails the call instead of making it when told to. The calls are numbered from 1 in
// the order they come; call N fails, and with kPersistent every call after it too.
#pragma once

namespace quorel::test {

class FaultCountdown {
 public:
  enum class Mode { kTransient, kPersistent };

  FaultCountdown(int failingCall, Mode mode) : failingCall_(failingCall), mode_(mode) {}

  // Counts one call; true when it is to fail.
  bool ShouldFail() {
    ++calls_;
    return mode_ == Mode::kPersistent ? calls_ >= failingCall_ : calls_ == failingCall_;
  }
  int Calls() const { return calls_; }

 private:
  int failingCall_;
  Mode mode_;
  int calls_ = 0;
};

}  // namespace quorel::test
