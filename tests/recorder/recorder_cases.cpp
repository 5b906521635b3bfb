// The recorder's phases as a host sees them through Start and Stop, written once: run on Linux
// against the library's recorder over the private PulseAudio daemon, under Wine against the
// DLL's exports with the script's sine playing. What each system's signal looks like stays in
// its own files.
#include "VantrelQuorelSpeech.h"
#include "recorder/recorder_exports.h"
#include "support/portable/case_list.h"
#include "support/portable/wave_checks.h"

namespace {

using namespace quorel::test;

constexpr int32_t kOneSecond = 32000;

}  // namespace

QUOREL_CASE(Recorder, AStartDuringARecordingReturns5AndLeavesItRunning) {
  const RecorderExports recorder;
  REQUIRE(recorder.Loaded());
  ScratchFolder folder;
  const PathText path = folder.Path(Name("take.wav"));
  const PathText other = folder.Path(Name("other.wav"));
  REQUIRE_EQ(recorder.Start(path), QUOREL_SUCCESS);
  CHECK_EQ(recorder.Start(other), QUOREL_START_ALREADY_RECORDING);
  SleepMilliseconds(kFirstBufferMilliseconds);
  const int32_t dataLength = recorder.Stop();
  CHECK_NO_FAULTS(WaveFileFaults(ReadRecording(path), dataLength));
  CHECK_GE(dataLength, kOneSecond);
  CHECK_EQ(ReadRecording(other), "<missing>");
}

QUOREL_CASE(Recorder, StartReturns4WhenTheFileCannotBeCreatedAndTheStopAfterIt0) {
  const RecorderExports recorder;
  REQUIRE(recorder.Loaded());
  ScratchFolder folder;
  const PathText missing = folder.Path(Name("missing"));
  CHECK_EQ(recorder.Start(missing + folder.Path(Name("take.wav")).substr(folder.Root().size())),
           QUOREL_START_FILE_CREATE_FAILED);
  CHECK_EQ(recorder.Stop(), 0);
}
