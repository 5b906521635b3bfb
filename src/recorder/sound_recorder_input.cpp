#include "recorder/sound_recorder_input.h"

#include "VantrelQuorelSpeech.h"
#include "platform/audio_input.h"
#include "recorder/sound_recorder_callback.h"
#include "recorder/sound_recorder_state.h"

namespace quorel {

namespace {

constexpr AudioFormat kCaptureFormat{kWaveFormatPcm,     kCaptureChannels,
                                     kCaptureSampleRate, kCaptureBytesPerSecond,
                                     kCaptureBlockAlign, kCaptureBitsPerSample,
                                     /*extraSize=*/0};

bool BufferQueued(SoundRecorderState& state) {
  LockGuard guard(state.lock);
  return state.bufferQueued;
}

}  // namespace

int32_t SoundRecorderOpenInput() {
  SoundRecorderState& state = soundRecorderState;
  AudioInputHandle input = nullptr;
  if (AudioInputOpen(&input, kCaptureFormat, SoundRecorderCallback, 0) != 0) {
    return QUOREL_START_INPUT_OPEN_FAILED;
  }
  {
    LockGuard guard(state.lock);
    state.input = input;
    state.bufferHeader = AudioBuffer{state.captureBuffer, kCaptureBufferSize, 0, 0, 0, 0};
  }
  AudioInputPrepareBuffer(input, &state.bufferHeader);
  {
    // Under the lock, so the flag is set before any delivery of this buffer can clear it.
    LockGuard guard(state.lock);
    if (AudioInputAddBuffer(input, &state.bufferHeader) != 0) {
      return QUOREL_START_BUFFER_QUEUE_FAILED;
    }
    state.bufferQueued = true;
  }
  // Not under the lock: deliveries may begin at once and need it.
  if (AudioInputStart(input) != 0) return QUOREL_START_CAPTURE_FAILED;
  return QUOREL_SUCCESS;
}

void SoundRecorderCloseInput() {
  SoundRecorderState& state = soundRecorderState;
  AudioInputHandle input;
  {
    LockGuard guard(state.lock);
    input = state.input;
  }
  if (input == nullptr) return;

  // The lock is free while the input stops: the stop hands the partial buffer back through
  // the handler, which takes it.
  AudioInputStop(input);
  // A buffer still queued now (capture never started, or the input kept an empty buffer)
  // comes back only through a reset. Waiting is safe only when a hand-back is on its way:
  // after a failed reset, none may come until Close, which reclaims the buffer itself.
  if (BufferQueued(state) && AudioInputReset(input) == 0) {
    LockGuard guard(state.lock);
    while (state.bufferQueued) state.bufferReturned.Wait(state.lock);
  }
  AudioInputUnprepareBuffer(input, &state.bufferHeader);
  AudioInputClose(input);

  LockGuard guard(state.lock);
  state.input = nullptr;
  state.bufferQueued = false;
}

}  // namespace quorel
