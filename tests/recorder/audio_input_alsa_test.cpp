// The ALSA backend on its own: the counter signal it delivers, a ring overflow, a frozen
// sound server; and the counter signal's check for the shared cases.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "recorder/audio_capture.h"
#include "support/audio/private_pulse_audio.h"
#include "support/common/test_process.h"
#include "support/portable/little_endian.h"

namespace quorel::test {
namespace {

// The samples of the deliveries from first on, in order.
std::vector<uint16_t> Samples(const std::vector<Delivery>& deliveries, size_t first = 0) {
  std::vector<uint16_t> samples;
  for (size_t i = first; i < deliveries.size(); ++i) {
    for (size_t offset = 0; offset + 1 < deliveries[i].data.size(); offset += 2) {
      samples.push_back(Number16(deliveries[i].data, offset));
    }
  }
  return samples;
}

}  // namespace

uint64_t ThisThread() {
  return std::hash<std::thread::id>{}(std::this_thread::get_id());
}

// Every capture reads the counter signal from its start; the stop hands back what came since
// the last full buffer, never nothing.
std::string SignalFaults(const std::vector<Delivery>& deliveries) {
  if (deliveries.empty() || deliveries.back().data.empty()) return "the last delivery is empty";
  const std::vector<uint16_t> samples = Samples(deliveries);
  for (size_t i = 0; i < samples.size(); ++i) {
    if (samples[i] != static_cast<uint16_t>(i)) {
      return "sample " + std::to_string(i) + " is " + std::to_string(samples[i]);
    }
  }
  return "";
}

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class AlsaInput : public ::testing::Test {
 protected:
  void SetUp() override {
    input = AudioInputOpen(kCaptureFormat, Capture::Handler, &capture);
    ASSERT_NE(input, nullptr);
    ASSERT_TRUE(AudioInputQueue(input, &buffer.header));
  }
  void TearDown() override {
    if (input != nullptr) {
      EXPECT_TRUE(AudioInputClose(input));
    }
  }

  Capture capture;
  OneSecondBuffer buffer;
  AudioInput* input = nullptr;
};

TEST_F(AlsaInput, RecordingGoesOnAfterTheRingOverflows) {
  capture.SetRequeue(false);
  ASSERT_TRUE(AudioInputStart(input));
  capture.WaitFor(1);
  // With no buffer queued for longer than the two-second ring holds, the ring overflows: a
  // device reports an overrun, a sound server drops audio. Either way recording goes on.
  std::this_thread::sleep_for(milliseconds(3500));
  capture.SetRequeue(true);
  ASSERT_TRUE(AudioInputQueue(input, &buffer.header));
  capture.WaitFor(3);
  ASSERT_TRUE(AudioInputStop(input));

  const std::vector<Delivery> deliveries = capture.Deliveries();
  EXPECT_EQ(deliveries[1].data.size(), kOneSecondBytes);
  EXPECT_EQ(deliveries[2].data.size(), kOneSecondBytes);
  // Once buffers flow again, the signal runs on without a gap.
  const std::vector<uint16_t> samples = Samples(deliveries, 2);
  for (size_t i = 1; i < samples.size(); ++i) {
    ASSERT_EQ(samples[i], static_cast<uint16_t>(samples[i - 1] + 1)) << "at sample " << i;
  }
}

// A frozen sound server answers nothing: Stop still hands the buffer back with what came,
// within a second, and Close returns at once; the release ends when the server thaws, and
// until then the input cannot be opened again.
TEST_F(AlsaInput, AFrozenSoundServerHoldsUpNeitherStopNorClose) {
  const size_t threads = ThreadCount();
  ASSERT_TRUE(AudioInputStart(input));
  std::this_thread::sleep_for(milliseconds(400));
  ASSERT_TRUE(SignalCounterSignalDaemon(SIGSTOP));
  std::this_thread::sleep_for(milliseconds(200));

  const auto stopping = steady_clock::now();
  EXPECT_TRUE(AudioInputStop(input));
  EXPECT_FALSE(AudioInputClose(input));
  input = nullptr;
  const auto stopped = steady_clock::now();
  EXPECT_LT(stopped - stopping, milliseconds(1000));
  const std::vector<Delivery> deliveries = capture.Deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_GT(deliveries[0].data.size(), 9000u);  // most of the 400 ms before the freeze
  EXPECT_EQ(SignalFaults(deliveries), "");
  EXPECT_EQ(AudioInputOpen(kCaptureFormat, Capture::Handler, &capture), nullptr);

  ASSERT_TRUE(SignalCounterSignalDaemon(SIGCONT));
  const auto thawed = steady_clock::now();
  // The count taken held the input's own client thread; the reader and that thread both end.
  while (ThreadCount() >= threads && steady_clock::now() - thawed < milliseconds(5000)) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_LT(ThreadCount(), threads) << "the release ends once the server thaws";
  input = AudioInputOpen(kCaptureFormat, Capture::Handler, &capture);
  EXPECT_NE(input, nullptr);
  EXPECT_EQ(ThreadCount(), threads);
}

}  // namespace
}  // namespace quorel::test
