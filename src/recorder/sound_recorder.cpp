// Start and Stop, the only moves of the recorder's phase. Each move is made under the lock;
// opening and closing the input run without it, in kStarting and kStopping, because the input
// delivers through the handler, which takes the lock.
//
// | phase      | event               | action                                     | next       |
// |------------|---------------------|--------------------------------------------|------------|
// | kIdle      | Start               | create the file, write the placeholder     | kStarting  |
// | kIdle      | Start, no file      | return 4                                   | kIdle      |
// | kIdle      | Stop                | return 0                                   | kIdle      |
// | kStarting  | the input's opening | wake waiting Stops; return 999, 1, 2 or 3  | kRecording |
// |            | settles             |                                            |            |
// | kStarting  | Start               | return 5                                   | kStarting  |
// | kStarting  | Stop                | wait until the Start settles, then as below| -          |
// | kRecording | Start               | return 5                                   | kRecording |
// | kRecording | Stop                | stop, reclaim the buffer, close the input  | kStopping  |
// | kStopping  | the input is closed | final header, close the file, return count | kIdle      |
// | kStopping  | Start               | return 5                                   | kStopping  |
// | kStopping  | Stop                | return 0 (the first Stop closes everything)| kStopping  |
//
// Deliveries take the normal path (copy, re-queue, write) in kStarting and kRecording and the
// final path (write, keep the buffer) in kStopping; none arrive in kIdle, as the input is
// closed before the file. So whatever the interleaving, the one Stop that leaves kRecording
// closes the input that the one Start opened, once, and completes its file.
#include "recorder/sound_recorder.h"

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder_input.h"
#include "recorder/sound_recorder_state.h"

namespace quorel {

int32_t SoundRecorderStart(const char16_t* path) {
  SoundRecorderState& state = soundRecorderState;
  {
    LockGuard guard(state.lock);
    if (state.phase != SoundRecorderPhase::kIdle) return QUOREL_START_ALREADY_RECORDING;
    File& file = state.file.Construct();
    // Audio written after a short placeholder would sit where the final header goes, so a
    // file that refuses the placeholder counts as one that cannot be created.
    if (!file.Create(path) || !WaveHeaderWritePlaceholder(state.header, file)) {
      state.file.Destroy();
      return QUOREL_START_FILE_CREATE_FAILED;
    }
    state.dataLength = 0;
    state.phase = SoundRecorderPhase::kStarting;
  }
  const int32_t result = SoundRecorderOpenInput();

  LockGuard guard(state.lock);
  state.phase = SoundRecorderPhase::kRecording;
  state.startSettled.WakeAll();
  return result;
}

int32_t SoundRecorderStop() {
  SoundRecorderState& state = soundRecorderState;
  {
    // Taking the lock lets a delivery already on the normal path run to its end; the phase
    // changes before the input stops, so the buffer the stop hands back takes the final path.
    LockGuard guard(state.lock);
    while (state.phase == SoundRecorderPhase::kStarting) state.startSettled.Wait(state.lock);
    if (state.phase != SoundRecorderPhase::kRecording) return 0;
    state.phase = SoundRecorderPhase::kStopping;
  }
  SoundRecorderCloseInput();

  LockGuard guard(state.lock);
  WaveHeaderFinalise(state.header, state.dataLength, state.file.Get());
  state.file.Destroy();
  state.phase = SoundRecorderPhase::kIdle;
  return static_cast<int32_t>(state.dataLength);
}

}  // namespace quorel
