// The ALSA backend on its own: deliveries, the hand-back on stop, a ring overflow, a frozen
// sound server.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio_input.h"
#include "support/audio/private_pulse_audio.h"
#include "support/common/test_process.h"
#include "support/portable/little_endian.h"

namespace quorel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr AudioFormat kFormat{16000, 1, 16};
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
  AudioBuffer buffer{memory, kBufferSize, 0};

  static void Handler(AudioInput* input, AudioBuffer* buffer, void* user) {
    Collector& self = *static_cast<Collector*>(user);
    std::lock_guard<std::mutex> guard(self.mutex);
    self.deliveries.push_back(
        {buffer->bytesRecorded, std::this_thread::get_id(),
         std::vector<uint8_t>(buffer->data, buffer->data + buffer->bytesRecorded)});
    if (self.requeue) AudioInputQueue(input, buffer);
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
    input = AudioInputOpen(kFormat, Collector::Handler, &collector);
    ASSERT_NE(input, nullptr);
    ASSERT_TRUE(AudioInputQueue(input, &collector.buffer));
  }
  void TearDown() override {
    if (input != nullptr) {
      EXPECT_TRUE(AudioInputClose(input));
    }
  }

  Collector collector;
  AudioInput* input = nullptr;
};

TEST_F(AlsaInput, DeliversFullBuffersOnItsThreadAndThePartialOneOnStop) {
  ASSERT_TRUE(AudioInputStart(input));
  collector.WaitForDeliveries(2);
  std::this_thread::sleep_for(milliseconds(300));
  ASSERT_TRUE(AudioInputStop(input));

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

// The shared cases (audio_input_cases.cpp) check the rest of the arguments.
TEST_F(AlsaInput, ABufferShorterThanAStereoFrameIsRefused) {
  collector.requeue = false;
  ASSERT_TRUE(AudioInputClose(input));
  input = AudioInputOpen({16000, 2, 16}, Collector::Handler, &collector);
  ASSERT_NE(input, nullptr);
  uint8_t memory[2];
  AudioBuffer oneSample{memory, 2, 0};
  EXPECT_FALSE(AudioInputQueue(input, &oneSample));
}

TEST_F(AlsaInput, RecordingGoesOnAfterTheRingOverflows) {
  {
    std::lock_guard<std::mutex> guard(collector.mutex);
    collector.requeue = false;
  }
  ASSERT_TRUE(AudioInputStart(input));
  collector.WaitForDeliveries(1);
  // With no buffer queued for longer than the two-second ring holds, the ring overflows: a
  // device reports an overrun, a sound server drops audio. Either way recording goes on.
  std::this_thread::sleep_for(milliseconds(3500));
  {
    std::lock_guard<std::mutex> guard(collector.mutex);
    collector.requeue = true;
  }
  ASSERT_TRUE(AudioInputQueue(input, &collector.buffer));
  collector.WaitForDeliveries(3);
  ASSERT_TRUE(AudioInputStop(input));

  std::lock_guard<std::mutex> guard(collector.mutex);
  EXPECT_EQ(collector.deliveries[1].bytes, kBufferSize);
  EXPECT_EQ(collector.deliveries[2].bytes, kBufferSize);
  // Once buffers flow again, the signal runs on without a gap.
  const std::vector<uint16_t> samples = Samples(collector.deliveries, 2);
  for (size_t i = 1; i < samples.size(); ++i) {
    ASSERT_EQ(samples[i], static_cast<uint16_t>(samples[i - 1] + 1)) << "at sample " << i;
  }
}

// A frozen sound server answers nothing: Stop still hands the buffer back with what came,
// within a second, and Close returns at once; the release ends when the server thaws, and
// until then the input cannot be opened again.
TEST_F(AlsaInput, AFrozenSoundServerHoldsUpNeitherStopNorClose) {
  const size_t threads = test::ThreadCount();
  ASSERT_TRUE(AudioInputStart(input));
  std::this_thread::sleep_for(milliseconds(400));
  ASSERT_TRUE(test::SignalCounterSignalDaemon(SIGSTOP));
  std::this_thread::sleep_for(milliseconds(200));

  const auto stopping = steady_clock::now();
  EXPECT_TRUE(AudioInputStop(input));
  EXPECT_FALSE(AudioInputClose(input));
  input = nullptr;
  const auto stopped = steady_clock::now();
  EXPECT_LT(stopped - stopping, milliseconds(1000));
  {
    std::lock_guard<std::mutex> guard(collector.mutex);
    ASSERT_EQ(collector.deliveries.size(), 1u);
    EXPECT_GT(collector.deliveries[0].bytes, 9000u);  // most of the 400 ms before the freeze
    const std::vector<uint16_t> samples = Samples(collector.deliveries);
    for (size_t i = 0; i < samples.size(); ++i) {
      ASSERT_EQ(samples[i], static_cast<uint16_t>(i)) << "at sample " << i;
    }
  }
  EXPECT_EQ(AudioInputOpen(kFormat, Collector::Handler, &collector), nullptr);

  ASSERT_TRUE(test::SignalCounterSignalDaemon(SIGCONT));
  const auto thawed = steady_clock::now();
  // The count taken held the input's own client thread; the reader and that thread both end.
  while (test::ThreadCount() >= threads && steady_clock::now() - thawed < milliseconds(5000)) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_LT(test::ThreadCount(), threads) << "the release ends once the server thaws";
  input = AudioInputOpen(kFormat, Collector::Handler, &collector);
  EXPECT_NE(input, nullptr);
  EXPECT_EQ(test::ThreadCount(), threads);
}

}  // namespace
}  // namespace quorel
