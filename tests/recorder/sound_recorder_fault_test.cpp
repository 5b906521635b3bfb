// The recorder's steps, codes and races, driven through a fault-injecting audio input.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder.h"
#include "support/audio/fault_audio_input.h"
#include "support/audio/wave_file_checks.h"

namespace quorel {
namespace {

using test::HoldsCounterSignal;
using test::IsCompleteWave;
using test::IsOpenInThisProcess;
using test::ReadWholeFile;
using test::Utf16;

// A real size limit on the files this process writes: writes past it are refused (short),
// as on a full disk. SIGXFSZ keeps its default disposition, which would end the process were
// the library to let it through.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_DFL);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous_); }

 private:
  rlimit previous_{};
};

class RecorderWithFaultInput : public ::testing::Test {
 protected:
  void TearDown() override { SoundRecorderStop(); }

  int32_t Start(const fault_audio::Plan& plan) {
    fault_audio::SetPlan(plan);
    return SoundRecorderStart(Utf16(path).c_str());
  }

  static fault_audio::Plan StopHandsBack(uint32_t bytes) {
    fault_audio::Plan plan;
    plan.stopBytes = bytes;
    return plan;
  }

  test::ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
};

// Full deliveries, then what the stop hands back: an empty buffer ends the file at the last
// full delivery, and a stop that fails (a device that held on to the buffer until the backend
// took it back) still hands back what reached it, which is written before the input closes.
// A Start meanwhile, and a Stop before or after the recording, change nothing.
TEST_F(RecorderWithFaultInput, FullDeliveriesThenWhatTheStopHandsBackEvenWhenItFails) {
  struct Row {
    int deliveries;
    uint32_t stopBytes;
    bool stopFails;
  };
  const std::string other = folder.Path("other.wav");
  for (const Row& row : {Row{2, 1000, false}, Row{1, 0, false}, Row{0, 700, true}}) {
    SCOPED_TRACE(::testing::Message() << row.deliveries << " full, then " << row.stopBytes);
    EXPECT_EQ(SoundRecorderStop(), 0);
    fault_audio::Plan plan = StopHandsBack(row.stopBytes);
    plan.stopFails = row.stopFails;
    ASSERT_EQ(Start(plan), QUOREL_SUCCESS);
    EXPECT_EQ(SoundRecorderStart(Utf16(other).c_str()), QUOREL_START_ALREADY_RECORDING);
    EXPECT_TRUE(ReadWholeFile(other).empty());
    for (int i = 0; i < row.deliveries; ++i) {
      ASSERT_TRUE(fault_audio::DeliverQueuedBuffer(32000));
    }
    EXPECT_EQ(ReadWholeFile(path).size(), 44u + 32000 * row.deliveries);

    const auto count = static_cast<int32_t>(32000 * row.deliveries + row.stopBytes);
    EXPECT_EQ(SoundRecorderStop(), count);
    const std::vector<uint8_t> file = ReadWholeFile(path);
    EXPECT_TRUE(IsCompleteWave(file, count));
    EXPECT_TRUE(HoldsCounterSignal(file));
    EXPECT_FALSE(IsOpenInThisProcess(path));
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(ReadWholeFile(path), file);
    const fault_audio::CallCounts calls = fault_audio::Calls();
    EXPECT_EQ(calls.open, 1);
    EXPECT_EQ(calls.queue, row.deliveries + 1);  // Start's and one re-queue per full delivery
    EXPECT_EQ(calls.stop, 1);
    EXPECT_EQ(calls.close, 1);
    const std::vector<std::string> events = fault_audio::Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
              (std::vector<std::string>{"stop", "delivered", "close"}));
  }
}

// A refused re-queue leaves the buffer with the recorder: what came is kept, and a faulty
// input's second hand-back of the buffer it no longer holds is not written again.
TEST_F(RecorderWithFaultInput, ARefusedRequeueKeepsWhatCameAndABufferHandedBackTwiceCountsOnce) {
  fault_audio::Plan plan = StopHandsBack(500);
  plan.requeueFails = true;
  ASSERT_EQ(Start(plan), QUOREL_SUCCESS);
  ASSERT_TRUE(fault_audio::DeliverQueuedBuffer(32000));
  fault_audio::DeliverAgain();
  EXPECT_EQ(ReadWholeFile(path).size(), 44u + 32000);
  EXPECT_EQ(SoundRecorderStop(), 32000);
  const std::vector<uint8_t> file = ReadWholeFile(path);
  EXPECT_TRUE(IsCompleteWave(file, 32000));
  EXPECT_TRUE(HoldsCounterSignal(file));
  EXPECT_EQ(fault_audio::Calls().close, 1);
}

TEST_F(RecorderWithFaultInput, StopWaitsForADeliveryInProgressAndGetsTheRequeuedBufferBack) {
  ASSERT_EQ(Start(StopHandsBack(640)), QUOREL_SUCCESS);
  fault_audio::HoldNextRequeue();
  std::thread delivery([] { fault_audio::DeliverQueuedBuffer(32000); });
  fault_audio::WaitUntilRequeueHeld();
  // The handler has copied the buffer and is re-queueing it; the file write comes after.
  EXPECT_EQ(ReadWholeFile(path).size(), 44u);

  std::future<int32_t> stop = std::async(std::launch::async, SoundRecorderStop);
  // Room for Stop to run ahead of the delivery, were it able to.
  EXPECT_EQ(stop.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  fault_audio::ReleaseRequeue();
  delivery.join();

  EXPECT_EQ(stop.get(), 32640);
  const std::vector<uint8_t> file = ReadWholeFile(path);
  EXPECT_TRUE(IsCompleteWave(file, 32640));
  EXPECT_TRUE(HoldsCounterSignal(file));
  const std::vector<std::string> events = fault_audio::Events();
  const auto stopped = std::find(events.begin(), events.end(), "stop");
  EXPECT_EQ(std::count(events.begin(), stopped, "queued"), 2) << "stop before the re-queue";
}

TEST_F(RecorderWithFaultInput, AStopDuringASlowOpenWaitsForItThenStopsWhatItOpened) {
  fault_audio::Plan plan = StopHandsBack(600);
  plan.openDelay = std::chrono::milliseconds(200);
  fault_audio::SetPlan(plan);
  std::future<int32_t> start =
      std::async(std::launch::async, [&] { return SoundRecorderStart(Utf16(path).c_str()); });
  fault_audio::WaitForCalls([](const fault_audio::CallCounts& calls) { return calls.open == 1; });

  EXPECT_EQ(SoundRecorderStop(), 600);
  EXPECT_EQ(start.get(), QUOREL_SUCCESS);
  EXPECT_TRUE(IsCompleteWave(ReadWholeFile(path), 600));
  const fault_audio::CallCounts calls = fault_audio::Calls();
  EXPECT_EQ(calls.stop, 1);
  EXPECT_EQ(calls.close, 1);
}

TEST_F(RecorderWithFaultInput, WhileAStopRunsAStartGets5AndAnotherStop0) {
  fault_audio::Plan plan = StopHandsBack(400);
  plan.stopDelay = std::chrono::milliseconds(200);
  ASSERT_EQ(Start(plan), QUOREL_SUCCESS);
  std::future<int32_t> stop = std::async(std::launch::async, SoundRecorderStop);
  fault_audio::WaitForCalls([](const fault_audio::CallCounts& calls) { return calls.stop == 1; });

  const std::string other = folder.Path("other.wav");
  EXPECT_EQ(SoundRecorderStart(Utf16(other).c_str()), QUOREL_START_ALREADY_RECORDING);
  EXPECT_EQ(SoundRecorderStop(), 0);
  EXPECT_EQ(stop.get(), 400);
  EXPECT_TRUE(IsCompleteWave(ReadWholeFile(path), 400));
  EXPECT_TRUE(ReadWholeFile(other).empty());
  const fault_audio::CallCounts calls = fault_audio::Calls();
  EXPECT_EQ(calls.open, 1);
  EXPECT_EQ(calls.stop, 1);
  EXPECT_EQ(calls.close, 1);
}

TEST_F(RecorderWithFaultInput, AFileThatCannotBeMadeGivesCode4AndTouchesNothing) {
  const std::u16string unpairedSurrogate = Utf16(folder.Path("take")) + u'\xD800' + u".wav";
  const std::u16string paths[] = {Utf16(folder.Path("missing/take.wav")), unpairedSurrogate,
                                  Utf16(folder.Path(""))};
  for (const std::u16string& bad : paths) {
    fault_audio::SetPlan({});
    EXPECT_EQ(SoundRecorderStart(bad.c_str()), QUOREL_START_FILE_CREATE_FAILED);
    EXPECT_EQ(SoundRecorderStop(), 0);
    EXPECT_EQ(fault_audio::Calls().open, 0);
  }
  {
    // A file that takes fewer than the 44 placeholder bytes cannot hold a recording either.
    FileSizeLimit limit(10);
    EXPECT_EQ(Start({}), QUOREL_START_FILE_CREATE_FAILED);
  }
  EXPECT_FALSE(IsOpenInThisProcess(path));
  EXPECT_EQ(SoundRecorderStop(), 0);
  EXPECT_EQ(fault_audio::Calls().open, 0);
}

TEST_F(RecorderWithFaultInput, RefusedWritesAreNotCountedAndRecordingGoesOn) {
  ASSERT_EQ(Start(StopHandsBack(500)), QUOREL_SUCCESS);
  {
    FileSizeLimit limit(44 + 32000 + 1001);
    ASSERT_TRUE(fault_audio::DeliverQueuedBuffer(32000));
    // 1001 bytes fit; the half sample at their end is cut off again.
    ASSERT_TRUE(fault_audio::DeliverQueuedBuffer(32000));
    EXPECT_EQ(ReadWholeFile(path).size(), 44u + 33000);
  }
  ASSERT_TRUE(fault_audio::DeliverQueuedBuffer(32000));
  EXPECT_EQ(SoundRecorderStop(), 32000 + 1000 + 32000 + 500);
  EXPECT_TRUE(IsCompleteWave(ReadWholeFile(path), 65500));
}

TEST_F(RecorderWithFaultInput, AFinalBufferCutShortInsideASampleKeepsWholeSamplesOnly) {
  ASSERT_EQ(Start(StopHandsBack(20000)), QUOREL_SUCCESS);
  FileSizeLimit limit(44 + 10001);
  EXPECT_EQ(SoundRecorderStop(), 10000);
  const std::vector<uint8_t> file = ReadWholeFile(path);
  EXPECT_TRUE(IsCompleteWave(file, 10000));
  EXPECT_TRUE(HoldsCounterSignal(file));
}

TEST_F(RecorderWithFaultInput, TheDataLengthStopsAtTheLargestEvenSignedCount) {
  ASSERT_EQ(Start(StopHandsBack(1000)), QUOREL_SUCCESS);
  {
    LockGuard guard(soundRecorderState.lock);
    soundRecorderState.dataLength = kMaxWaveDataLength - 600;
  }
  ASSERT_TRUE(fault_audio::DeliverQueuedBuffer(32000));
  EXPECT_EQ(SoundRecorderStop(), 2147483646);

  const std::vector<uint8_t> file = ReadWholeFile(path);
  EXPECT_EQ(file.size(), 44u + 600);  // only what fitted under the cap was written
  EXPECT_EQ(test::Number32(file, 40), 2147483646u);
  EXPECT_EQ(test::Number32(file, 4), 2147483646u + 36);
}

}  // namespace
}  // namespace quorel
