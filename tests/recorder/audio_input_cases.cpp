// What every audio-input backend does alike, written once and run against the build's real
// one: ALSA's "default" device over the private PulseAudio daemon on Linux, winmm over Wine's
// PulseAudio driver under the Wine runner. Each system's own file keeps what only it can check
// (the signal's samples, its device's quirks).
#include <chrono>
#include <thread>

#include "recorder/audio_capture.h"
#include "support/portable/case_list.h"

namespace quorel::test {

void Capture::Handler(AudioInput* input, AudioBuffer* buffer, void* user) {
  Capture& self = *static_cast<Capture*>(user);
  LockGuard guard(self.lock_);
  self.deliveries_.push_back(
      {buffer, ThisThread(),
       std::vector<uint8_t>(buffer->data, buffer->data + buffer->bytesRecorded)});
  if (self.requeue_ && buffer->bytesRecorded == buffer->capacity) {
    self.requeued_ = AudioInputQueue(input, buffer);
  }
  self.delivered_.WakeAll();
}

void Capture::WaitFor(size_t count) {
  LockGuard guard(lock_);
  while (deliveries_.size() < count) delivered_.Wait(lock_);
}

void Capture::SetRequeue(bool requeue) {
  LockGuard guard(lock_);
  requeue_ = requeue;
}

bool Capture::Requeued() {
  LockGuard guard(lock_);
  return requeued_;
}

std::vector<Delivery> Capture::Deliveries() {
  LockGuard guard(lock_);
  return deliveries_;
}

}  // namespace quorel::test

namespace {

using namespace quorel;
using namespace quorel::test;

// The default input, opened in the capture format, with one second's buffer queued.
struct QueuedInput {
  Capture capture;
  OneSecondBuffer buffer;
  AudioInput* input = AudioInputOpen(kCaptureFormat, Capture::Handler, &capture);
  bool queued = input != nullptr && AudioInputQueue(input, &buffer.header);
};

// Whether the only delivery was the buffer, handed back empty.
bool OnlyBackEmpty(Capture& capture) {
  const std::vector<Delivery> deliveries = capture.Deliveries();
  return deliveries.size() == 1 && deliveries[0].data.empty();
}

}  // namespace

QUOREL_CASE(AudioInput, CapturesInFullBuffersOnItsOwnThreadAndHandsBackThePartOnStop) {
  QueuedInput opened;
  REQUIRE(opened.queued);
  CHECK(AudioInputStart(opened.input));
  opened.capture.WaitFor(2);  // the second came from the buffer the handler re-queued
  opened.capture.SetRequeue(false);
  CHECK(opened.capture.Requeued());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // part of a second for the stop
  CHECK(AudioInputStop(opened.input));
  const std::vector<Delivery> deliveries = opened.capture.Deliveries();  // Stop waits for it
  CHECK(AudioInputClose(opened.input));
  REQUIRE_EQ(deliveries.size(), 3u);
  CHECK_EQ(opened.capture.Deliveries().size(), 3u);  // back once after the stop, not twice
  for (const Delivery& delivery : deliveries) {
    CHECK(delivery.buffer == &opened.buffer.header);
    CHECK(delivery.thread != ThisThread());
  }
  CHECK_EQ(deliveries[0].data.size(), kOneSecondBytes);
  CHECK_EQ(deliveries[1].data.size(), kOneSecondBytes);
  CHECK(deliveries[2].data.size() < kOneSecondBytes);
  CHECK_EQ(deliveries[2].data.size() % 2, 0u);
  CHECK_NO_FAULTS(SignalFaults(deliveries));
}

QUOREL_CASE(AudioInput, StopWithoutCaptureHandsTheQueuedBufferBackEmptyOnce) {
  QueuedInput opened;
  REQUIRE(opened.queued);
  CHECK(AudioInputStop(opened.input));
  CHECK(OnlyBackEmpty(opened.capture));
  // Nothing is queued any more, and nothing can be once Stop has begun.
  CHECK(!AudioInputQueue(opened.input, &opened.buffer.header));
  CHECK(AudioInputStop(opened.input));
  CHECK(AudioInputClose(opened.input));
  CHECK(OnlyBackEmpty(opened.capture));
}

// As after a missing Stop: Close stops, gets the buffer back and closes, so neither the input
// nor the device's hold on the buffer outlives it.
QUOREL_CASE(AudioInput, CloseReclaimsABufferStillQueuedAndHandsItBack) {
  QueuedInput opened;
  REQUIRE(opened.queued);
  CHECK(AudioInputStart(opened.input));
  CHECK(AudioInputClose(opened.input));
  const std::vector<Delivery> deliveries = opened.capture.Deliveries();
  REQUIRE_EQ(deliveries.size(), 1u);
  CHECK(deliveries[0].data.size() < kOneSecondBytes);
  CHECK_EQ(deliveries[0].data.size() % 2, 0u);
}

QUOREL_CASE(AudioInput, OneBufferAtATimeAndArgumentsChecked) {
  Capture capture;
  OneSecondBuffer buffer;
  OneSecondBuffer second;
  CHECK(AudioInputOpen(kCaptureFormat, nullptr, &capture) == nullptr);
  CHECK(AudioInputOpen({16000, 1, 8}, Capture::Handler, &capture) == nullptr);
  CHECK(AudioInputOpen({16000, 0, 16}, Capture::Handler, &capture) == nullptr);
  CHECK(AudioInputOpen({0, 1, 16}, Capture::Handler, &capture) == nullptr);
  CHECK(!AudioInputQueue(nullptr, &buffer.header));
  CHECK(!AudioInputStart(nullptr));
  CHECK(!AudioInputStop(nullptr));
  CHECK(!AudioInputClose(nullptr));

  AudioInput* input = AudioInputOpen(kCaptureFormat, Capture::Handler, &capture);
  REQUIRE(input != nullptr);
  AudioBuffer empty{second.data.data(), 0, 0};
  AudioBuffer halfASample{second.data.data(), 1, 0};
  CHECK(!AudioInputQueue(input, &empty));
  CHECK(!AudioInputQueue(input, &halfASample));
  CHECK(!AudioInputQueue(input, nullptr));
  CHECK(AudioInputQueue(input, &buffer.header));
  CHECK(!AudioInputQueue(input, &second.header));  // one is queued already
  CHECK(AudioInputClose(input));
  CHECK(OnlyBackEmpty(capture));  // the one queued, back through Close

  // A buffer must hold a whole frame: one sample is short of a stereo one.
  input = AudioInputOpen({16000, 2, 16}, Capture::Handler, &capture);
  REQUIRE(input != nullptr);
  AudioBuffer oneSample{second.data.data(), 2, 0};
  CHECK(!AudioInputQueue(input, &oneSample));
  CHECK(AudioInputClose(input));
}
