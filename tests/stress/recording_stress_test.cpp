// 500 recordings in one process on the fault-injecting input, whose deliveries run on a thread
// of their own as a device's do. Lengths are drawn from 0 to 1.2 s, and many Stops are made
// while the one-second buffer is being handed back full, so that Stop races the delivery. The
// input costs no real time, so the run takes seconds; the ALSA path is stressed separately.
#include <atomic>
#include <future>
#include <random>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "recorder/capture_format.h"
#include "recorder/sound_recorder.h"
#include "support/audio/fault_audio_input.h"
#include "support/audio/wave_file_checks.h"

namespace quorel {
namespace {

using test::HoldsCounterSignal;
using test::IsCompleteWave;
using test::ReadWholeFile;
using test::Utf16;

constexpr int kRecordings = 500;
constexpr uint32_t kLongestTake = kCaptureBytesPerSecond * 6 / 5;

enum class StopMoment {
  kAfterTheDeliveries,  // every full buffer is in before Stop
  kRacingAFullBuffer,   // Stop and the hand-back of a full buffer start together
  kDuringTheRequeue,    // Stop comes while the handler holds the buffer it re-queues
};

struct Take {
  uint32_t bytes;  // what the input has captured by the time it stops
  StopMoment moment;
};

Take DrawTake(std::mt19937& random) {
  const uint32_t bytes =
      std::uniform_int_distribution<uint32_t>(0, kLongestTake / kCaptureBlockAlign)(random) *
      kCaptureBlockAlign;
  if (bytes < kCaptureBufferSize) return {bytes, StopMoment::kAfterTheDeliveries};
  const int moment = std::uniform_int_distribution<int>(0, 2)(random);
  return {bytes, static_cast<StopMoment>(moment)};
}

// Runs one recording and returns what Stop returned; the delivery of a full buffer (if the
// take holds one) happens at the planned moment.
int32_t Record(const std::u16string& path, const Take& take) {
  const bool full = take.bytes >= kCaptureBufferSize;
  fault_audio::Plan plan;
  plan.stopBytes = take.bytes % kCaptureBufferSize;
  fault_audio::SetPlan(plan);
  EXPECT_EQ(SoundRecorderStart(path.c_str()), QUOREL_SUCCESS);
  switch (take.moment) {
    case StopMoment::kAfterTheDeliveries:
      if (full) {
        EXPECT_TRUE(fault_audio::DeliverQueuedBuffer(kCaptureBufferSize));
      }
      return SoundRecorderStop();
    case StopMoment::kRacingAFullBuffer: {
      std::promise<void> go;
      std::shared_future<void> ready = go.get_future().share();
      std::thread delivery([&] {
        ready.wait();
        fault_audio::DeliverQueuedBuffer(kCaptureBufferSize);
      });
      go.set_value();
      const int32_t count = SoundRecorderStop();
      delivery.join();
      return count;
    }
    case StopMoment::kDuringTheRequeue: {
      fault_audio::HoldNextRequeue();
      std::thread delivery([] { fault_audio::DeliverQueuedBuffer(kCaptureBufferSize); });
      fault_audio::WaitUntilRequeueHeld();
      std::future<int32_t> stop = std::async(std::launch::async, SoundRecorderStop);
      fault_audio::ReleaseRequeue();
      delivery.join();
      return stop.get();
    }
  }
  return -1;
}

// The counts Stop may return: a race may let the stop's partial buffer in first (and the
// full one never), or let the full buffer take the final path.
bool IsPossibleCount(const Take& take, int32_t count) {
  const auto bytes = static_cast<int32_t>(take.bytes);
  if (take.moment != StopMoment::kRacingAFullBuffer) return count == bytes;
  const int32_t partial = bytes % kCaptureBufferSize;
  return count == bytes || count == static_cast<int32_t>(kCaptureBufferSize) || count == partial;
}

TEST(RecordingStress, FiveHundredTakesEachHoldExactlyTheirOwnSamples) {
  test::ScratchFolder folder;
  const uint32_t seed = std::random_device{}();
  std::mt19937 random(seed);
  ::testing::Test::RecordProperty("seed", std::to_string(seed));
  // Counted after the first take, once the runtime's own threads (a sanitizer's) are up.
  size_t descriptors = 0;
  size_t threads = 0;
  int stopWonTheRace = 0;

  for (int i = 0; i < kRecordings; ++i) {
    const Take take = DrawTake(random);
    // Alternating names: each take also empties a file that holds an earlier one.
    const std::string path = folder.Path(i % 2 ? "odd.wav" : "even.wav");
    const int32_t count = Record(Utf16(path), take);
    const std::vector<uint8_t> file = ReadWholeFile(path);
    ASSERT_TRUE(IsPossibleCount(take, count))
        << "take " << i << " (seed " << seed << "): " << take.bytes << " bytes captured, Stop "
        << "returned " << count;
    ASSERT_TRUE(IsCompleteWave(file, count)) << "take " << i << " (seed " << seed << ")";
    ASSERT_TRUE(HoldsCounterSignal(file)) << "take " << i << " (seed " << seed << ")";
    if (take.moment == StopMoment::kRacingAFullBuffer && count != static_cast<int32_t>(take.bytes))
      ++stopWonTheRace;
    if (i == 0) {
      descriptors = test::OpenDescriptorCount();
      threads = test::ThreadCount();
    }
  }
  ::testing::Test::RecordProperty("stopWonTheRace", stopWonTheRace);
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
  EXPECT_EQ(test::ThreadCount(), threads);
}

// Threads calling Start and Stop at once on an input that opens slowly, so that Stops land
// while a Start is still opening it: each Start that succeeded is stopped by exactly one Stop,
// which closes its input once and completes its file.
TEST(RecordingStress, ThreadsRacingStartAndStopCloseEveryInputOnceAndCompleteEveryFile) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 150;
  constexpr uint32_t kStopBytes = 320;
  test::ScratchFolder folder;
  fault_audio::Plan plan;
  plan.stopBytes = kStopBytes;
  plan.openDelay = std::chrono::milliseconds(1);
  fault_audio::SetPlan(plan);
  const auto path = [&](int thread) { return folder.Path(std::to_string(thread) + ".wav"); };
  std::atomic<int64_t> started{0};
  std::atomic<int64_t> stoppedBytes{0};
  const auto hammer = [&](int thread, int rounds) {
    std::mt19937 random(thread);
    const std::u16string path16 = Utf16(path(thread));
    for (int round = 0; round < rounds; ++round) {
      const int32_t code = SoundRecorderStart(path16.c_str());
      EXPECT_TRUE(code == QUOREL_SUCCESS || code == QUOREL_START_ALREADY_RECORDING) << code;
      started += code == QUOREL_SUCCESS;
      std::this_thread::sleep_for(
          std::chrono::microseconds(std::uniform_int_distribution<int>(0, 2000)(random)));
      const int32_t count = SoundRecorderStop();
      EXPECT_TRUE(count == 0 || count == static_cast<int32_t>(kStopBytes)) << count;
      stoppedBytes += count;
    }
  };
  const auto race = [&](int rounds) {
    std::vector<std::thread> racers;
    for (int thread = 0; thread < kThreads; ++thread) racers.emplace_back(hammer, thread, rounds);
    for (std::thread& racer : racers) racer.join();
  };
  // One race first, so that the counts start with the runtime's own threads up. A leaked
  // input shows in the input's counts, not in the heap: its few bytes are lost in the
  // allocator's per-thread caches (the real path's heap is counted in export_resources_test).
  race(1);
  fault_audio::SetPlan(plan);
  started = 0;
  stoppedBytes = 0;
  const size_t descriptors = test::OpenDescriptorCount();
  const size_t threads = test::ThreadCount();
  race(kRounds);

  EXPECT_EQ(stoppedBytes.load(), started.load() * kStopBytes);
  const fault_audio::CallCounts calls = fault_audio::Calls();
  EXPECT_EQ(calls.open, started.load());
  EXPECT_EQ(calls.close, started.load());
  for (int thread = 0; thread < kThreads; ++thread) {
    const std::vector<uint8_t> file = ReadWholeFile(path(thread));
    if (file.empty()) continue;  // each of its Starts met another thread's recording
    EXPECT_TRUE(IsCompleteWave(file, test::Number32(file, 40))) << "file " << thread;
    // The input's counter runs on from take to take.
    EXPECT_TRUE(HoldsCounterSignal(file, -1)) << "file " << thread;
  }
  EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
  EXPECT_EQ(test::ThreadCount(), threads);
}

}  // namespace
}  // namespace quorel
