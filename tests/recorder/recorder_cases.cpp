// The recorder's phases as a host sees them through Start and Stop, written once: run on Linux
// against the library's recorder over the private PulseAudio daemon, under Wine against the
// DLL's exports. The Ramp case records the ramp each system's input plays (each sample one
// more than the last), so that a sample lost or repeated anywhere, also where one full buffer
// follows another, shows.
#include <chrono>

#include "VantrelQuorelSpeech.h"
#include "recorder/recorder_exports.h"
#include "support/portable/case_list.h"
#include "support/portable/sound_server.h"
#include "support/portable/wave_checks.h"

namespace {

using namespace quorel::test;

constexpr int32_t kOneSecond = 32000;

// The seconds from since until now.
double SecondsSince(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

// Start fails before it opens an input when the file cannot be made, and with no device at
// all after it has made it.
QUOREL_CASE(NoAudioDevice, AFailedStartReturnsItsCodeAndTheStopAfterIt0WithAnyFileComplete) {
  const RecorderCase on;
  REQUIRE(on.recorder.Loaded());
  const PathText path = on.Path("silence.wav");
  CHECK_EQ(on.recorder.Start(on.Path("missing") + path.substr(on.folder.Root().size())),
           QUOREL_START_FILE_CREATE_FAILED);
  CHECK_EQ(on.recorder.Stop(), 0);
  WriteFile(path, "an earlier recording");
  const NoInputDevice noDevice(on.folder);
  CHECK_EQ(on.recorder.Start(path), QUOREL_START_INPUT_OPEN_FAILED);
  CHECK_EQ(on.recorder.Stop(), 0);
  CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), 0));
  CHECK_NO_FAULTS(noDevice.Leftovers());
}

// The first take replaces a longer file; the second, into another file, counts from zero
// under its own header, leaves the first one as it was and goes on past a Start meanwhile,
// which makes no file.
QUOREL_CASE(Ramp, EachTakeHoldsItsSamplesInACompleteWavFileOfItsOwn) {
  const RecorderCase on;
  REQUIRE(on.recorder.Loaded());
  const PathText path = on.Path("take.wav"), second = on.Path("second.wav");
  WriteFile(path, std::string(20 * kOneSecond, '\xAB'));
  const Take take = Record(on.recorder, path, kLongTakeMilliseconds);
  CHECK_NO_FAULTS(TakeFaults(path, take));
  CHECK_GE(take.count, 2 * kOneSecond);  // full buffers and the partial rest
  const Take next = Record(on.recorder, second, kShortTakeMilliseconds, [&] {
    CHECK_EQ(on.recorder.Start(on.Path("other.wav")), QUOREL_START_ALREADY_RECORDING);
  });
  CHECK_NO_FAULTS(TakeFaults(second, next));
  CHECK_EQ(ReadRecording(on.Path("other.wav")), "<missing>");
  CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), take.count));
}

// A sound server frozen before Start (a driver that does not return from opening the input):
// Start gives 1 within about a second, with its file, and Stop returns at once. Until the open
// still under way has been finished and released, after the thaw, a Start gets 1 at once;
// then recording works again.
QUOREL_CASE(FrozenServer, StartGives1WithinASecondAndStopReturnsAtOnce) {
  const RecorderCase on;
  REQUIRE(on.recorder.Loaded());
  const PathText path = on.Path("frozen.wav");
  REQUIRE(FreezeSoundServer());
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto starting = std::chrono::steady_clock::now();
    CHECK_EQ(on.recorder.Start(path), QUOREL_START_INPUT_OPEN_FAILED);
    CHECK_LT(SecondsSince(starting), attempt == 0 ? 2.0 : 0.5);
    const auto stopping = std::chrono::steady_clock::now();
    CHECK_EQ(on.recorder.Stop(), 0);
    CHECK_LT(SecondsSince(stopping), 0.5);
    CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), 0));
  }
  REQUIRE(ThawSoundServer());
  const auto thawed = std::chrono::steady_clock::now();
  Take take{};
  do {
    take = Record(on.recorder, path, kShortTakeMilliseconds);
  } while (take.startCode == QUOREL_START_INPUT_OPEN_FAILED && SecondsSince(thawed) < 20);
  CHECK_EQ(take.startCode, QUOREL_SUCCESS);
  CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), take.count));
}
