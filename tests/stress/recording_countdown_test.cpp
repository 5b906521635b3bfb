// The recording path (Start, a little over a second of capture so that the buffer is queued
// again once, Stop) through the real ALSA input, with its Nth fallible audio-input call failed,
// for N = 1, 2, 3, ... until a run makes no more calls than N - 1: every run ends with one of
// Start's documented codes and a complete WAV file of the counter signal, and leaves no heap
// block, descriptor or thread behind.
#include <chrono>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder.h"
#include "support/audio/countdown_audio_input.h"
#include "support/audio/wave_file_checks.h"
#include "support/common/resource_footprint.h"

namespace quorel::test {
namespace {

// The sound server's client keeps up to about a kilobyte in flux from take to take, more on a
// loaded machine; an input left open holds far more (and its descriptors and threads show).
constexpr size_t kHeapSlackBytes = 4096;

struct Run {
  int32_t startCode;
  int32_t count;
};

Run RecordOnce(const std::string& path) {
  const int32_t code = SoundRecorderStart(Utf16(path).c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(1150));
  return {code, SoundRecorderStop()};
}

// The code a run gets when call `failing` is the first to fail: Open, the first Queue and
// Start are Start's steps; the re-queue, Stop and Close come after Start has returned.
int32_t ExpectedCode(int failing) {
  switch (failing) {
    case 1:
      return QUOREL_START_INPUT_OPEN_FAILED;
    case 2:
      return QUOREL_START_BUFFER_QUEUE_FAILED;
    case 3:
      return QUOREL_START_CAPTURE_FAILED;
    default:
      return QUOREL_SUCCESS;
  }
}

void CountDown(FaultCountdown::Mode mode, const char* name) {
  ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
  int calls = 0;
  for (int failing = 1;; ++failing) {
    const std::string context = std::string(name) + " fault at call " + std::to_string(failing);
    // Each path runs once before it is counted: the first time a path is taken, the sound
    // server's client and ALSA set up what they keep for the process.
    {
      FaultCountdown warmUp(failing, mode);
      CountdownAudioInput faults(warmUp);
      RecordOnce(path);
    }
    FaultCountdown countdown(failing, mode);
    const Footprint before = FootprintNow();
    Run run;
    {
      CountdownAudioInput faults(countdown);
      run = RecordOnce(path);
    }
    const Footprint after = FootprintNow();
    EXPECT_LE(after.heapBytes, before.heapBytes + kHeapSlackBytes) << context;
    EXPECT_EQ(after.descriptors, before.descriptors) << context;
    EXPECT_EQ(after.threads, before.threads) << context;
    const std::vector<uint8_t> file = ReadWholeFile(path);
    EXPECT_TRUE(IsCompleteWave(file, run.count)) << context;
    EXPECT_TRUE(HoldsCounterSignal(file)) << context;
    if (!countdown.Reached()) {
      EXPECT_EQ(run.startCode, QUOREL_SUCCESS) << context;
      calls = countdown.Calls();
      break;
    }
    EXPECT_EQ(run.startCode, ExpectedCode(failing)) << context;
    // Only a recording that ran holds audio; one whose re-queue failed ends at one second.
    if (run.startCode != QUOREL_SUCCESS) {
      EXPECT_EQ(run.count, 0) << context;
    }
    if (failing == 4) {
      EXPECT_EQ(run.count, 32000) << context;
    }
    ASSERT_LT(failing, 20) << "the path never completes";
  }
  ::testing::Test::RecordProperty(std::string(name) + "FallibleCalls", calls);
  // Open, Queue, Start, the re-queue of the full buffer, Stop, Close.
  EXPECT_EQ(calls, 6) << name;
}

TEST(RecordingCountdown, EveryTransientFaultOfTheAudioInputEndsWithADocumentedResult) {
  CountDown(FaultCountdown::Mode::kTransient, "transient");
}

TEST(RecordingCountdown, EveryPersistentFaultOfTheAudioInputEndsWithADocumentedResult) {
  CountDown(FaultCountdown::Mode::kPersistent, "persistent");
}

}  // namespace
}  // namespace quorel::test
