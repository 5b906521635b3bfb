// The winmm audio input. The AudioInput cases need the private PulseAudio server of
// scripts/test-windows.sh with its sine playing; the NoAudioDevice cases need none running.
#include <windows.h>

#include <cmath>
#include <vector>

#include "platform/audio_input.h"
#include "platform/sync.h"
#include "signal_checks.h"
#include "support/portable/case_list.h"

namespace {

using namespace quorel;

constexpr uint32_t kOneSecond = 32000;
constexpr AudioFormat kCaptureFormat{kWaveFormatPcm, 1, 16000, 32000, 2, 16, 0};

struct Delivery {
  uint32_t message;
  AudioBuffer* buffer;
  uint32_t bytesRecorded;
  DWORD thread;
  double frequency;
  double rms;
};

// What the handler saw; it re-queues full buffers while requeue is set, as the recorder does.
struct Capture {
  Lock lock;
  Condition delivered;
  std::vector<Delivery> deliveries;
  bool requeue = true;
  int requeueResult = -1;

  size_t DataCount() {
    size_t count = 0;
    for (const Delivery& delivery : deliveries) count += delivery.message == kAudioInputData;
    return count;
  }
  void WaitForData(size_t count) {
    LockGuard guard(lock);
    while (DataCount() < count) delivered.Wait(lock);
  }
};

void Handler(AudioInputHandle input, uint32_t message, uintptr_t instance, uintptr_t param1,
             uintptr_t) {
  Capture& capture = *reinterpret_cast<Capture*>(instance);
  LockGuard guard(capture.lock);
  Delivery delivery{message, reinterpret_cast<AudioBuffer*>(param1), 0, GetCurrentThreadId(), 0, 0};
  if (message == kAudioInputData) {
    AudioBuffer& buffer = *delivery.buffer;
    delivery.bytesRecorded = buffer.bytesRecorded;
    const auto* samples = reinterpret_cast<const int16_t*>(buffer.data);
    delivery.frequency = test::ZeroCrossingFrequency(samples, buffer.bytesRecorded / 2, 16000);
    delivery.rms = test::Rms(samples, buffer.bytesRecorded / 2);
    if (capture.requeue && buffer.bytesRecorded == buffer.bufferLength) {
      buffer.bytesRecorded = 0;
      capture.requeueResult = AudioInputAddBuffer(input, &buffer);
    }
  }
  capture.deliveries.push_back(delivery);
  capture.delivered.WakeAll();
}

struct OneSecondBuffer {
  std::vector<uint8_t> data = std::vector<uint8_t>(kOneSecond);
  AudioBuffer header{data.data(), kOneSecond, 0, 0, 0, 0};
};

}  // namespace

QUOREL_CASE(AudioInput, CapturesTheSineInFullBuffersAndHandsBackThePartOnStop) {
  Capture capture;
  OneSecondBuffer buffer;
  AudioInputHandle input = nullptr;
  REQUIRE_EQ(AudioInputOpen(&input, kCaptureFormat, Handler, reinterpret_cast<uintptr_t>(&capture)),
             0);
  REQUIRE(input != nullptr);
  CHECK_EQ(AudioInputPrepareBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputAddBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputStart(input), 0);

  capture.WaitForData(2);  // the second one came from the buffer the handler re-queued
  {
    LockGuard guard(capture.lock);
    capture.requeue = false;
    CHECK_EQ(capture.requeueResult, 0);
  }
  Sleep(500);  // so that the stop usually finds part of a second in the buffer
  CHECK_EQ(AudioInputStop(input), 0);
  // winmm keeps a queued buffer that holds nothing yet; the reset hands it back.
  CHECK_EQ(AudioInputReset(input), 0);
  capture.WaitForData(3);
  CHECK_EQ(AudioInputUnprepareBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputClose(input), 0);

  LockGuard guard(capture.lock);
  REQUIRE(capture.deliveries.size() >= 4);
  CHECK_EQ(capture.deliveries.front().message, kAudioInputOpened);
  CHECK_EQ(capture.deliveries.back().message, kAudioInputClosed);
  size_t data = 0;
  for (const Delivery& delivery : capture.deliveries) {
    if (delivery.message != kAudioInputData) continue;
    CHECK(delivery.buffer == &buffer.header);
    CHECK(delivery.thread != GetCurrentThreadId());
    if (++data <= 2) {
      CHECK_EQ(delivery.bytesRecorded, kOneSecond);
      CHECK(std::fabs(delivery.frequency - test::kSineFrequency) < 10);
      CHECK(std::fabs(delivery.rms - test::kSineRms) < 0.2 * test::kSineRms);
    } else {
      CHECK(delivery.bytesRecorded < kOneSecond);  // the part captured before the stop
      CHECK_EQ(delivery.bytesRecorded % 2, 0u);
      if (delivery.bytesRecorded >= kOneSecond / 10) {
        CHECK(std::fabs(delivery.frequency - test::kSineFrequency) < 20);
      }
    }
  }
  CHECK_EQ(data, 3u);  // the one buffer came back once after the stop, not twice
}

QUOREL_CASE(AudioInput, ResetHandsBackABufferThatWasNeverFilled) {
  Capture capture;
  OneSecondBuffer buffer;
  AudioInputHandle input = nullptr;
  REQUIRE_EQ(AudioInputOpen(&input, kCaptureFormat, Handler, reinterpret_cast<uintptr_t>(&capture)),
             0);
  CHECK_EQ(AudioInputPrepareBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputAddBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputReset(input), 0);
  capture.WaitForData(1);
  CHECK_EQ(AudioInputUnprepareBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputClose(input), 0);
  LockGuard guard(capture.lock);
  CHECK_EQ(capture.DataCount(), 1u);
  for (const Delivery& delivery : capture.deliveries) {
    if (delivery.message == kAudioInputData) CHECK_EQ(delivery.bytesRecorded, 0u);
  }
}

// As after a reset that failed: Close itself reclaims the buffer from the service, hands it
// back and closes, so neither the input nor the service's hold on the buffer outlives it.
QUOREL_CASE(AudioInput, CloseReclaimsABufferStillQueuedAndHandsItBack) {
  Capture capture;
  capture.requeue = false;
  OneSecondBuffer buffer;
  AudioInputHandle input = nullptr;
  REQUIRE_EQ(AudioInputOpen(&input, kCaptureFormat, Handler, reinterpret_cast<uintptr_t>(&capture)),
             0);
  CHECK_EQ(AudioInputPrepareBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputAddBuffer(input, &buffer.header), 0);
  CHECK_EQ(AudioInputStart(input), 0);
  CHECK_EQ(AudioInputClose(input), 0);
  LockGuard guard(capture.lock);
  CHECK_EQ(capture.DataCount(), 1u);
  CHECK(capture.deliveries.back().message == kAudioInputClosed);
}

QUOREL_CASE(AudioInput, QueueingAnUnpreparedBufferFails) {
  Capture capture;
  OneSecondBuffer buffer;
  AudioInputHandle input = nullptr;
  REQUIRE_EQ(AudioInputOpen(&input, kCaptureFormat, Handler, reinterpret_cast<uintptr_t>(&capture)),
             0);
  CHECK(AudioInputAddBuffer(input, &buffer.header) != 0);
  CHECK(AudioInputAddBuffer(input, nullptr) != 0);
  CHECK_EQ(AudioInputClose(input), 0);
  LockGuard guard(capture.lock);
  CHECK_EQ(capture.DataCount(), 0u);
}

QUOREL_CASE(NoAudioDevice, OpenFailsAndLeavesTheHandleEmpty) {
  Capture capture;
  AudioInputHandle input = reinterpret_cast<AudioInputHandle>(&capture);
  CHECK(AudioInputOpen(&input, kCaptureFormat, Handler, reinterpret_cast<uintptr_t>(&capture)) !=
        0);
  CHECK(input == nullptr);
  CHECK(AudioInputStart(nullptr) != 0);
  CHECK(AudioInputClose(nullptr) != 0);
}
