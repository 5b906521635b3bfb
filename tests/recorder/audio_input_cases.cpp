// What every audio-input backend does alike, written once and run against the build's real
// one: ALSA's "default" device over the private PulseAudio daemon on Linux, winmm over Wine's
// PulseAudio driver under the Wine runner. Each system's own file keeps what only it can check
// (the signal's samples, the delivery thread, its device's quirks).
#include <vector>

#include "platform/audio_input.h"
#include "platform/sync.h"
#include "support/portable/case_list.h"

namespace {

using namespace quorel;

constexpr uint32_t kOneSecond = 32000;
constexpr AudioFormat kFormat{16000, 1, 16};

// The byte counts of the buffers handed back, in order.
struct Deliveries {
  Lock lock;
  std::vector<uint32_t> sizes;

  static void Handler(AudioInput*, AudioBuffer* buffer, void* user) {
    Deliveries& self = *static_cast<Deliveries*>(user);
    LockGuard guard(self.lock);
    self.sizes.push_back(buffer->bytesRecorded);
  }
  std::vector<uint32_t> Sizes() {
    LockGuard guard(lock);
    return sizes;
  }
};

struct OneSecondBuffer {
  std::vector<uint8_t> data = std::vector<uint8_t>(kOneSecond);
  AudioBuffer header{data.data(), kOneSecond, 0};
};

// The default input, opened in the capture format, with one second's buffer queued.
struct QueuedInput {
  Deliveries deliveries;
  OneSecondBuffer buffer;
  AudioInput* input = AudioInputOpen(kFormat, Deliveries::Handler, &deliveries);
  bool queued = input != nullptr && AudioInputQueue(input, &buffer.header);
};

}  // namespace

QUOREL_CASE(AudioInput, StopWithoutCaptureHandsTheQueuedBufferBackEmptyOnce) {
  QueuedInput opened;
  REQUIRE(opened.queued);
  CHECK(AudioInputStop(opened.input));
  CHECK(opened.deliveries.Sizes() == std::vector<uint32_t>{0});
  // Nothing is queued any more, and nothing can be once Stop has begun.
  CHECK(!AudioInputQueue(opened.input, &opened.buffer.header));
  CHECK(AudioInputStop(opened.input));
  CHECK(AudioInputClose(opened.input));
  CHECK_EQ(opened.deliveries.Sizes().size(), 1u);
}

// As after a missing Stop: Close stops, gets the buffer back and closes, so neither the input
// nor the device's hold on the buffer outlives it.
QUOREL_CASE(AudioInput, CloseReclaimsABufferStillQueuedAndHandsItBack) {
  QueuedInput opened;
  REQUIRE(opened.queued);
  CHECK(AudioInputStart(opened.input));
  CHECK(AudioInputClose(opened.input));
  const std::vector<uint32_t> sizes = opened.deliveries.Sizes();
  REQUIRE_EQ(sizes.size(), 1u);
  CHECK(sizes[0] < kOneSecond);
  CHECK_EQ(sizes[0] % 2, 0u);
}

QUOREL_CASE(AudioInput, OneBufferAtATimeAndArgumentsChecked) {
  Deliveries deliveries;
  OneSecondBuffer buffer;
  OneSecondBuffer second;
  CHECK(AudioInputOpen(kFormat, nullptr, &deliveries) == nullptr);
  CHECK(AudioInputOpen({16000, 1, 8}, Deliveries::Handler, &deliveries) == nullptr);
  CHECK(AudioInputOpen({16000, 0, 16}, Deliveries::Handler, &deliveries) == nullptr);
  CHECK(AudioInputOpen({0, 1, 16}, Deliveries::Handler, &deliveries) == nullptr);
  CHECK(!AudioInputQueue(nullptr, &buffer.header));
  CHECK(!AudioInputStart(nullptr));
  CHECK(!AudioInputStop(nullptr));
  CHECK(!AudioInputClose(nullptr));

  AudioInput* input = AudioInputOpen(kFormat, Deliveries::Handler, &deliveries);
  REQUIRE(input != nullptr);
  AudioBuffer empty{second.data.data(), 0, 0};
  AudioBuffer halfASample{second.data.data(), 1, 0};
  CHECK(!AudioInputQueue(input, &empty));
  CHECK(!AudioInputQueue(input, &halfASample));
  CHECK(!AudioInputQueue(input, nullptr));
  CHECK(AudioInputQueue(input, &buffer.header));
  CHECK(!AudioInputQueue(input, &second.header));  // one is queued already
  CHECK(AudioInputClose(input));
  CHECK(deliveries.Sizes() == std::vector<uint32_t>{0});  // the one queued, back through Close
}
