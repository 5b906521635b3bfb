#include "recorder/sound_recorder_callback.h"

#include <algorithm>
#include <cstring>

#include "recorder/sound_recorder_state.h"

namespace quorel {

namespace {

// Counts only the bytes that reached the file, so the final header always agrees with it,
// and drops whatever would take the data length past its cap.
void AppendAudio(SoundRecorderState& state, uint32_t count) {
  count = std::min(count, kMaxWaveDataLength - state.dataLength);
  File& file = state.file.Get();
  uint32_t written = static_cast<uint32_t>(file.Write(state.copyBuffer, count));
  if (written % kCaptureBlockAlign != 0) {
    // A write refused inside a sample: its first byte goes too, so the file and the header
    // hold whole samples, and the next write follows the last whole one.
    written -= written % kCaptureBlockAlign;
    file.Truncate(kWaveHeaderSize + state.dataLength + written);
  }
  state.dataLength += written;
}

}  // namespace

void SoundRecorderCallback(AudioInputHandle input, uint32_t message, uintptr_t /*instance*/,
                           uintptr_t param1, uintptr_t /*param2*/) {
  if (message != kAudioInputData) return;
  SoundRecorderState& state = soundRecorderState;
  // All of the handler's work is done under the lock: Stop takes it to enter kStopping, so a
  // delivery already under way finishes before Stop goes on.
  LockGuard guard(state.lock);
  AudioBuffer* buffer = reinterpret_cast<AudioBuffer*>(param1);
  if (buffer != &state.bufferHeader) return;
  state.bufferQueued = false;

  // Whole samples only, and never more than the buffer holds, whatever the input reports.
  uint32_t recorded = std::min(buffer->bytesRecorded, kCaptureBufferSize);
  recorded -= recorded % kCaptureBlockAlign;
  std::memcpy(state.copyBuffer, state.captureBuffer, recorded);
  if (state.phase != SoundRecorderPhase::kStopping) {
    // The input has no buffer until this re-queue, so it comes before the slow file write.
    buffer->bytesRecorded = 0;
    if (AudioInputAddBuffer(input, buffer) == 0) state.bufferQueued = true;
  }
  if (state.phase != SoundRecorderPhase::kIdle) AppendAudio(state, recorded);
  state.bufferReturned.WakeAll();
}

}  // namespace quorel
