// The ALSA backend on its own: deliveries, the hand-back on stop and reset, a ring overflow.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_input.h"
#include "support/portable/little_endian.h"

namespace quorel {
namespace {

constexpr AudioFormat kFormat{kWaveFormatPcm, 1, 16000, 32000, 2, 16, 0};
constexpr uint32_t kBufferSize = 32000;

struct Delivery {
  uint32_t bytes;
  std::thread::id thread;
  std::vector<uint8_t> data;
};

// Collects every buffer handed back and, while requeue is set, queues it again at once.
struct Collector {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Delivery> deliveries;
  bool requeue = true;
  uint8_t memory[kBufferSize];
  AudioBuffer buffer{memory, kBufferSize, 0, 0, 0, 0};

  static void Callback(AudioInputHandle input, uint32_t message, uintptr_t instance,
                       uintptr_t param1, uintptr_t) {
    if (message != kAudioInputData) return;
    Collector& self = *reinterpret_cast<Collector*>(instance);
    AudioBuffer* buffer = reinterpret_cast<AudioBuffer*>(param1);
    std::lock_guard<std::mutex> guard(self.mutex);
    self.deliveries.push_back(
        {buffer->bytesRecorded, std::this_thread::get_id(),
         std::vector<uint8_t>(buffer->data, buffer->data + buffer->bytesRecorded)});
    if (self.requeue) AudioInputAddBuffer(input, buffer);
    self.changed.notify_all();
  }

  void WaitForDeliveries(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return deliveries.size() >= count; });
  }
};

// The samples of the deliveries from first on, in order.
std::vector<uint16_t> Samples(const std::vector<Delivery>& deliveries, size_t first = 0) {
  std::vector<uint16_t> samples;
  for (size_t i = first; i < deliveries.size(); ++i) {
    const std::vector<uint8_t>& data = deliveries[i].data;
    for (size_t offset = 0; offset + 1 < data.size(); offset += 2) {
      samples.push_back(test::Number16(data, offset));
    }
  }
  return samples;
}

class AlsaInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AudioInputOpen(&input, kFormat, Collector::Callback,
                             reinterpret_cast<uintptr_t>(&collector)),
              0);
    ASSERT_EQ(AudioInputPrepareBuffer(input, &collector.buffer), 0);
    ASSERT_EQ(AudioInputAddBuffer(input, &collector.buffer), 0);
  }
  void TearDown() override {
    if (input != nullptr) {
      EXPECT_EQ(AudioInputClose(input), 0);
    }
  }

  Collector collector;
  AudioInputHandle input = nullptr;
};

TEST_F(AlsaInput, DeliversFullBuffersOnItsThreadAndThePartialOneOnStop) {
  ASSERT_EQ(AudioInputStart(input), 0);
  collector.WaitForDeliveries(2);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(AudioInputStop(input), 0);

  std::lock_guard<std::mutex> guard(collector.mutex);
  const std::vector<Delivery>& deliveries = collector.deliveries;
  ASSERT_GE(deliveries.size(), 3u);
  for (size_t i = 0; i + 1 < deliveries.size(); ++i) EXPECT_EQ(deliveries[i].bytes, kBufferSize);
  EXPECT_LT(deliveries.back().bytes, kBufferSize);
  EXPECT_GT(deliveries.back().bytes, 0u);
  for (const Delivery& delivery : deliveries) {
    EXPECT_NE(delivery.thread, std::this_thread::get_id());
  }
  const std::vector<uint16_t> samples = Samples(deliveries);
  for (size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(samples[i], static_cast<uint16_t>(i)) << "at sample " << i;
  }
}

TEST_F(AlsaInput, StopWithoutCaptureKeepsTheBufferAndResetHandsItBack) {
  collector.requeue = false;
  ASSERT_EQ(AudioInputStop(input), 0);
  EXPECT_TRUE(collector.deliveries.empty());
  ASSERT_EQ(AudioInputReset(input), 0);
  ASSERT_EQ(collector.deliveries.size(), 1u);
  EXPECT_EQ(collector.deliveries[0].bytes, 0u);
  // Nothing is queued any more: a reset has nothing left to hand back.
  ASSERT_EQ(AudioInputReset(input), 0);
  EXPECT_EQ(collector.deliveries.size(), 1u);
}

TEST_F(AlsaInput, RecordingGoesOnAfterTheRingOverflows) {
  {
    std::lock_guard<std::mutex> guard(collector.mutex);
    collector.requeue = false;
  }
  ASSERT_EQ(AudioInputStart(input), 0);
  collector.WaitForDeliveries(1);
  // With no buffer queued for longer than the two-second ring holds, the ring overflows: a
  // device reports an overrun, a sound server drops audio. Either way recording goes on.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  {
    std::lock_guard<std::mutex> guard(collector.mutex);
    collector.requeue = true;
  }
  ASSERT_EQ(AudioInputAddBuffer(input, &collector.buffer), 0);
  collector.WaitForDeliveries(3);
  ASSERT_EQ(AudioInputStop(input), 0);

  std::lock_guard<std::mutex> guard(collector.mutex);
  EXPECT_EQ(collector.deliveries[1].bytes, kBufferSize);
  EXPECT_EQ(collector.deliveries[2].bytes, kBufferSize);
  // Once buffers flow again, the signal runs on without a gap.
  const std::vector<uint16_t> samples = Samples(collector.deliveries, 2);
  for (size_t i = 1; i < samples.size(); ++i) {
    ASSERT_EQ(samples[i], static_cast<uint16_t>(samples[i - 1] + 1)) << "at sample " << i;
  }
}

}  // namespace
}  // namespace quorel
