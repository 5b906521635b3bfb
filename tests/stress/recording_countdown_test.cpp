// The recording path (Start, a little over a second of capture so that the buffer is queued
// again once, Stop) through the real ALSA input, with its Nth fallible audio-input call failed,
// for N = 1, 2, 3, ... until a run makes no more calls than N - 1: every run ends with one of
// Start's documented codes, the input calls that code's path makes, and a complete WAV file of
// the counter signal, and leaves no heap block, descriptor or thread behind.
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
  bool fileOpenWhileRecording;
  int32_t count;
  std::string calls;
};

Run RecordOnce(const std::string& path, FaultCountdown& countdown) {
  const CountdownAudioInput faults(countdown);
  const int32_t code = SoundRecorderStart(Utf16(path).c_str());
  const bool open = IsOpenInThisProcess(path);
  std::this_thread::sleep_for(std::chrono::milliseconds(1150));
  const int32_t count = SoundRecorderStop();
  return {code, open, count, faults.Calls()};
}

// What a run gets when call N, the first to fail, is call 1 to 3, at kExpected[N], and when none
// fails (or a later one), at kExpected[0]: Open, the first Queue and Start are Start's steps,
// after whose failure the recorder stops and closes what it opened; the re-queue (a failed one
// ends the recording at its one second), Stop and Close come after Start has returned.
const Run kExpected[] = {
    {QUOREL_SUCCESS, true, 32000, "open queue start queue stop close"},
    {QUOREL_START_INPUT_OPEN_FAILED, true, 0, "open"},
    {QUOREL_START_BUFFER_QUEUE_FAILED, true, 0, "open queue stop close"},
    {QUOREL_START_CAPTURE_FAILED, true, 0, "open queue start stop close"},
};

void CountDown(FaultCountdown::Mode mode, const char* name) {
  ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
  for (int failing = 1;; ++failing) {
    const std::string context = std::string(name) + " fault at call " + std::to_string(failing);
    // Each path runs once before it is counted: the first time a path is taken, the sound
    // server's client and ALSA set up what they keep for the process.
    FaultCountdown warmUp(failing, mode);
    RecordOnce(path, warmUp);
    FaultCountdown countdown(failing, mode);
    const Footprint before = FootprintNow();
    const Run run = RecordOnce(path, countdown);
    const Footprint after = FootprintNow();
    EXPECT_LE(after.heapBytes, before.heapBytes + kHeapSlackBytes) << context;
    EXPECT_EQ(after.descriptors, before.descriptors) << context;
    EXPECT_EQ(after.threads, before.threads) << context;
    const std::vector<uint8_t> file = ReadWholeFile(path);
    EXPECT_TRUE(IsCompleteWave(file, run.count)) << context;
    EXPECT_TRUE(HoldsCounterSignal(file)) << context;
    // A run that reached no fault took the whole path.
    const Run& expected = kExpected[countdown.Reached() && failing <= 3 ? failing : 0];
    EXPECT_EQ(run.startCode, expected.startCode) << context;
    EXPECT_TRUE(run.fileOpenWhileRecording) << context;
    EXPECT_EQ(run.calls, expected.calls) << context;
    if (!countdown.Reached()) break;
    // Only a recording that ran holds audio, and one whose re-queue failed exactly a second.
    if (failing <= 4) {
      EXPECT_EQ(run.count, expected.count) << context;
    }
    ASSERT_LT(failing, 20) << "the path never completes";
  }
}

TEST(RecordingCountdown, EveryFaultOfTheAudioInputEndsWithADocumentedResult) {
  CountDown(FaultCountdown::Mode::kTransient, "transient");
  CountDown(FaultCountdown::Mode::kPersistent, "persistent");
}

}  // namespace
}  // namespace quorel::test
