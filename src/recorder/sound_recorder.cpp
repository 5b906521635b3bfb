#include "recorder/sound_recorder.h"

#include "VantrelQuorelSpeech.h"
#include "recorder/sound_recorder_input.h"
#include "recorder/sound_recorder_state.h"

namespace quorel {

int32_t SoundRecorderStart(const char16_t* path) {
  SoundRecorderState& state = soundRecorderState;
  {
    LockGuard guard(state.lock);
    if (state.recording) return QUOREL_START_ALREADY_RECORDING;
    File& file = state.file.Construct();
    // Audio written after a short placeholder would sit where the final header goes, so a
    // file that refuses the placeholder counts as one that cannot be created.
    if (!file.Create(path) || !WaveHeaderWritePlaceholder(state.header, file)) {
      state.file.Destroy();
      return QUOREL_START_FILE_CREATE_FAILED;
    }
    state.stopping = 0;
    state.dataLength = 0;
    state.recording = true;
  }
  return SoundRecorderOpenInput();
}

int32_t SoundRecorderStop() {
  SoundRecorderState& state = soundRecorderState;
  {
    // Taking the lock lets a delivery already on the normal path run to its end; the flag is
    // set before the input stops, so the buffer the stop hands back takes the final path.
    LockGuard guard(state.lock);
    if (!state.recording) return 0;
    state.stopping = 1;
  }
  SoundRecorderCloseInput();

  LockGuard guard(state.lock);
  File& file = state.file.Get();
  WaveHeaderFinalise(state.header, state.dataLength, file);
  state.file.Destroy();
  state.recording = false;
  return static_cast<int32_t>(state.dataLength);
}

}  // namespace quorel
