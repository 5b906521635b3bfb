// The build's real audio input with its fallible calls failed by a FaultCountdown: while an
// object lives, the table that audio_input.h calls through wraps the real backend's entries.
// A call that fails does what a failing backend may: Open, Queue and Start touch nothing;
// Stop and Close do their work (the buffer comes back, the input is gone) and report false.
#pragma once

#include <string>

#include "support/portable/fault_countdown.h"

namespace quorel::test {

class CountdownAudioInput {
 public:
  explicit CountdownAudioInput(FaultCountdown& countdown);
  ~CountdownAudioInput();
  CountdownAudioInput(const CountdownAudioInput&) = delete;
  CountdownAudioInput& operator=(const CountdownAudioInput&) = delete;

  // The calls made so far, in order: "open queue start queue stop close" for a whole take.
  const std::string& Calls() const;
};

}  // namespace quorel::test
