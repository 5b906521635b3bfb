// The library's boundary on both systems: loading it costs nothing that unloading does not give
// back, and unloading it after Stop is safe whatever the sound server does. Each system's file
// (library_boundary_linux.cpp, tests/windows/module_test.cpp) defines the two functions below
// with its own loader; RecorderExports loads the library for its life (the Linux one there,
// the Windows one in tests/windows/recorder_exports_windows.cpp).
#include <chrono>
#include <string>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/recorder_exports.h"
#include "support/portable/case_list.h"
#include "support/portable/sound_server.h"
#include "support/portable/wave_checks.h"

namespace quorel::test {

// Loads the library, looks up QuorelSoundRecorderStop and unloads it; what went wrong.
std::string LoadAndUnloadFaults();
// What an unload has to give back: this process's threads and handles (descriptors), as text.
std::string ProcessFootprint();

}  // namespace quorel::test

QUOREL_CASE(Module, LoadingAndUnloadingLeavesNoThreadOrHandle) {
  using namespace quorel::test;
  // The first load maps the libraries it depends on (TLS, audio), which may stay.
  REQUIRE(CHECK_NO_FAULTS(LoadAndUnloadFaults()));
  const std::string footprint = ProcessFootprint();
  for (int i = 0; i < 100; ++i) REQUIRE(CHECK_NO_FAULTS(LoadAndUnloadFaults()));
  CHECK_EQ(ProcessFootprint(), footprint);
}

// Unloading is safe at any time after Stop has returned: here while the library still finishes,
// on a thread of its own, the release of an input that a frozen sound server holds. The process
// lives on through the thaw, and the library loaded again records once that release has ended.
QUOREL_CASE(FrozenServer, UnloadingWhileTheInputsReleaseIsPendingIsSafe) {
  using namespace quorel::test;
  using std::chrono::milliseconds;
  const ScratchFolder folder;
  const std::string name = "take.wav";
  const PathText path = folder.Path(PathText(name.begin(), name.end()));
  {
    const RecorderExports recorder;
    REQUIRE(recorder.Loaded());
    REQUIRE_EQ(recorder.Start(path), QUOREL_SUCCESS);
    std::this_thread::sleep_for(milliseconds(1500));
    REQUIRE(FreezeSoundServer());
    std::this_thread::sleep_for(milliseconds(300));
    const int32_t count = recorder.Stop();
    CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), count));
    // The release is still pending: no input opens meanwhile.
    CHECK_EQ(recorder.Start(path), QUOREL_START_INPUT_OPEN_FAILED);
    CHECK_EQ(recorder.Stop(), 0);
  }
  std::this_thread::sleep_for(milliseconds(500));
  REQUIRE(ThawSoundServer());
  const auto thawed = std::chrono::steady_clock::now();
  Take take{};
  do {
    const RecorderExports recorder;
    take = Record(recorder, path, 500);
  } while (take.startCode == QUOREL_START_INPUT_OPEN_FAILED &&
           std::chrono::steady_clock::now() - thawed < std::chrono::seconds(20));
  CHECK_EQ(take.startCode, QUOREL_SUCCESS);
  CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), take.count));
}
