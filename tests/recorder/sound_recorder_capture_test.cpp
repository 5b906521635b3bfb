// The recorder through the real path, where it meets the sound server's faults: ALSA's
// "default" device, fed the counter signal. Its plain takes are shared cases
// (recorder_cases.cpp).
#include <signal.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "recorder/recorder_exports.h"
#include "recorder/sound_recorder.h"
#include "support/audio/private_pulse_audio.h"
#include "support/audio/wave_file_checks.h"
#include "support/common/child_process.h"

namespace quorel {
namespace {

using std::chrono::duration;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using test::HoldsCounterSignal;
using test::IsCompleteWave;
using test::ReadWholeFile;
using test::Take;
using test::Utf16;

class RecorderOnTheDefaultInput : public ::testing::Test {
 protected:
  test::ScratchFolder folder;
  const std::string path = folder.Path("take.wav");
  const test::RecorderExports recorder;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

TEST_F(RecorderOnTheDefaultInput, TheSoundServersDeathEndsCaptureQuietlyAndKeepsWhatCame) {
  const auto beforeStart = steady_clock::now();
  ASSERT_EQ(SoundRecorderStart(Utf16(path).c_str()), QUOREL_SUCCESS);
  const auto started = steady_clock::now();
  std::this_thread::sleep_for(milliseconds(1700));
  const auto killing = steady_clock::now();
  ASSERT_TRUE(test::KillCounterSignalDaemon());
  const double cpuBefore = ProcessCpuSeconds();
  std::this_thread::sleep_for(milliseconds(2000));
  const double cpuSeconds = ProcessCpuSeconds() - cpuBefore;
  ::testing::Test::RecordProperty("cpuMicrosecondsAfterTheServersDeath",
                                  static_cast<int>(cpuSeconds * 1e6));
  EXPECT_LT(cpuSeconds, 0.1) << "CPU-seconds in the 2 s after the sound server died";

  // Stop keeps what came before the death, and nothing after it. The reader collects from the
  // server every period, so what the server took with it is at most that much more than a
  // stop misses anyway.
  constexpr double kUnreadAtDeathSeconds = 0.05;
  const int32_t count = SoundRecorderStop();
  const Take take{QUOREL_SUCCESS, count,
                  duration<double>(killing - started).count() - kUnreadAtDeathSeconds,
                  duration<double>(killing - beforeStart).count()};
  EXPECT_EQ(test::TakeFaults(path, take), "");

  // No input while no server runs; once it is back, recording works again.
  EXPECT_EQ(SoundRecorderStart(Utf16(path).c_str()), QUOREL_START_INPUT_OPEN_FAILED);
  EXPECT_EQ(SoundRecorderStop(), 0);
  ASSERT_TRUE(test::RestartCounterSignalDaemon());
  EXPECT_EQ(test::TakeFaults(path, Record(recorder, path, test::kShortTakeMilliseconds)), "");
}

// A file size limit is reached by a write on the library's own capture thread: with SIGXFSZ at
// its default disposition, which ends a process, the host lives on, the file holds whole
// samples up to the limit under a header that matches them, and nothing but the documented line
// reaches standard error. The recording runs in a fresh
// run of this program (the sound server's client library refuses to work in a forked copy of
// a process that used it).
constexpr char kChildPathVariable[] = "QUOREL_TEST_RECORD_UP_TO_LIMIT";

TEST_F(RecorderOnTheDefaultInput, AFileSizeLimitReachedWhileRecordingLeavesTheHostRunning) {
  if (const char* childPath = getenv(kChildPathVariable)) {
    signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{50001, 50001};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_EQ(SoundRecorderStart(Utf16(childPath).c_str()), QUOREL_SUCCESS);
    std::this_thread::sleep_for(milliseconds(2200));
    // 50001 bytes hold the header and 24978 whole samples.
    EXPECT_EQ(SoundRecorderStop(), 49956);
    return;
  }
  // This program by its own path (which an emulator answers for the program it runs), through
  // the emulator where the build runs its programs under one.
#ifdef QUOREL_TEST_EMULATOR
  std::vector<std::string> command = {QUOREL_TEST_EMULATOR};
#else
  std::vector<std::string> command;
#endif
  command.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
  command.push_back("--gtest_filter=RecorderOnTheDefaultInput.AFileSizeLimitReached*");
  setenv(kChildPathVariable, path.c_str(), 1);
  const test::ChildResult child = test::RunChild(command);
  unsetenv(kChildPathVariable);
  EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
  // The one thing that reaches standard error, as the README says: the sound server's client
  // library cannot size its shared memory under the limit and says so, once or twice per input
  // opened, then works without it. Nothing of the library's own.
  std::istringstream errors(child.err);
  int lines = 0;
  for (std::string line; std::getline(errors, line); ++lines) {
    EXPECT_EQ(line, "ftruncate() failed: File too large");
  }
  EXPECT_LE(lines, 2);
  const std::vector<uint8_t> file = ReadWholeFile(path);
  EXPECT_TRUE(IsCompleteWave(file, 49956));
  EXPECT_TRUE(HoldsCounterSignal(file));
}

// A frozen sound server (stopped, as a hung one) answers nothing. Stop still returns within a
// second with a complete file of what had arrived; until the server thaws and the library has
// released the input, a Start gets 1; after that recording works again.
TEST_F(RecorderOnTheDefaultInput, AFrozenSoundServerHoldsUpNoStopAndAStartMeanwhileGets1) {
  // ThreadSanitizer starts a thread of its own when a program first starts one: one started
  // first puts it in the baseline.
  std::thread([] {}).join();
  const size_t threads = test::ThreadCount();
  ASSERT_EQ(SoundRecorderStart(Utf16(path).c_str()), QUOREL_SUCCESS);
  std::this_thread::sleep_for(milliseconds(1300));
  ASSERT_TRUE(test::SignalCounterSignalDaemon(SIGSTOP));
  std::this_thread::sleep_for(milliseconds(300));
  const auto stopping = steady_clock::now();
  const int32_t count = SoundRecorderStop();
  const auto stopped = steady_clock::now();
  EXPECT_LT(stopped - stopping, milliseconds(1000));
  EXPECT_GT(count, 32000);  // the full second and the part read before the freeze
  const std::vector<uint8_t> file = ReadWholeFile(path);
  EXPECT_TRUE(IsCompleteWave(file, count));
  EXPECT_TRUE(HoldsCounterSignal(file));
  EXPECT_FALSE(test::IsOpenInThisProcess(path));

  const std::string other = folder.Path("other.wav");
  EXPECT_EQ(SoundRecorderStart(Utf16(other).c_str()), QUOREL_START_INPUT_OPEN_FAILED);
  EXPECT_EQ(SoundRecorderStop(), 0);
  EXPECT_TRUE(IsCompleteWave(ReadWholeFile(other), 0));

  ASSERT_TRUE(test::SignalCounterSignalDaemon(SIGCONT));
  // The release finishes on the input's own thread; a slow (instrumented) build may take
  // seconds once the server answers again.
  const auto thawed = steady_clock::now();
  while (test::ThreadCount() > threads && steady_clock::now() - thawed < milliseconds(20000)) {
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(test::ThreadCount(), threads) << "the input is released once the server thaws";
  EXPECT_EQ(test::TakeFaults(path, Record(recorder, path, test::kShortTakeMilliseconds)), "");
}

}  // namespace
}  // namespace quorel
