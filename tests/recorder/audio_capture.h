// The buffers an audio input hands back, collected as the shared cases (audio_input_cases.cpp)
// and each system's own input tests collect them; each system says what its played signal
// looks like.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio_input.h"
#include "platform/sync.h"

namespace quorel::test {

constexpr uint32_t kOneSecondBytes = 32000;
constexpr AudioFormat kCaptureFormat{16000, 1, 16};

// Who is calling: the system's id of the thread (mingw's thread_local is one variable for all).
uint64_t ThisThread();

struct Delivery {
  AudioBuffer* buffer;
  uint64_t thread;
  std::vector<uint8_t> data;  // what it held
};

// Collects every buffer handed back; while requeue is set, queues each full one again at once,
// as the recorder does.
class Capture {
 public:
  static void Handler(AudioInput* input, AudioBuffer* buffer, void* user);
  void WaitFor(size_t count);
  void SetRequeue(bool requeue);
  // Whether the handler's last re-queue was taken.
  bool Requeued();
  std::vector<Delivery> Deliveries();

 private:
  Lock lock_;
  Condition delivered_;
  std::vector<Delivery> deliveries_;
  bool requeue_ = true;
  bool requeued_ = false;
};

struct OneSecondBuffer {
  std::vector<uint8_t> data = std::vector<uint8_t>(kOneSecondBytes);
  AudioBuffer header{data.data(), kOneSecondBytes, 0};
};

// What is wrong with the audio of the deliveries of a capture from its start, as the signal
// this system's input plays; empty when nothing.
std::string SignalFaults(const std::vector<Delivery>& deliveries);

}  // namespace quorel::test
