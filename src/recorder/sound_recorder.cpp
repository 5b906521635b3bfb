// The recorder's phase and the capture buffer's place, and every move of either. Start and
// Stop make their moves under the lock; opening and closing the input run without it, in
// kStarting and kStopping, because the input delivers through Deliver, which takes the lock.
//
// clang-format off
// | phase      | buffer   | event               | action                          | then           |
// |------------|----------|---------------------|---------------------------------|----------------|
// | kIdle      | recorder | Start               | create the file, write the      | kStarting      |
// |            |          |                     | placeholder                     |                |
// | kIdle      | recorder | Start, no file      | return 4                        | kIdle          |
// | kIdle      | recorder | Stop                | return 0                        | kIdle          |
// | kStarting  | recorder | the input opened    | queue the buffer                | buffer: input  |
// | kStarting  | any      | opening settles     | wake waiting Stops; return 999, | kRecording     |
// |            |          |                     | 1, 2 or 3                       |                |
// | kStarting  | any      | Start               | return 5                        | kStarting      |
// | kStarting  | any      | Stop                | wait until the Start settles,   | -              |
// |            |          |                     | then as below                   |                |
// | kStarting, | input    | delivery (normal)   | copy, re-queue, then write the  | buffer: input  |
// | kRecording |          |                     | copy                            | (recorder when |
// |            |          |                     |                                 | refused)       |
// | kRecording | any      | Start               | return 5                        | kRecording     |
// | kRecording | any      | Stop                | stop the input, close it        | kStopping      |
// | kStopping  | input    | delivery (final)    | write, keep the buffer          | buffer:        |
// |            |          |                     |                                 | recorder       |
// | kStopping  | recorder | the input is closed | final header, close the file,   | kIdle          |
// |            |          |                     | return the count                |                |
// | kStopping  | any      | Start               | return 5                        | kStopping      |
// | kStopping  | any      | Stop                | return 0 (the first Stop closes | kStopping      |
// |            |          |                     | everything)                     |                |
// clang-format on
//
// The input's Stop returns only once the buffer it holds has come back, so the buffer is with
// the recorder when the input is closed, and no delivery arrives in kIdle. Whatever the
// interleaving, the one Stop that leaves kRecording closes the input that the one Start
// opened, once, and completes its file.
#include "recorder/sound_recorder.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "VantrelQuorelSpeech.h"

namespace quorel {

// Loading the library must run no code for the record and unloading it none either: it is
// constant-initialised and has no destructor.
static_assert((SoundRecorderState(), true), "constant-initialised");
static_assert(std::is_trivially_destructible_v<SoundRecorderState>, "nothing runs at unload");
SoundRecorderState soundRecorderState;

namespace {

constexpr AudioFormat kCaptureFormat{kCaptureSampleRate, kCaptureChannels, kCaptureBitsPerSample};

// Counts only the bytes that reached the file, so the final header always agrees with it,
// and drops whatever would take the data length past its cap.
void AppendAudio(SoundRecorderState& state, const uint8_t* audio, uint32_t count) {
  count = std::min(count, kMaxWaveDataLength - state.dataLength);
  File& file = state.file.Get();
  uint32_t written = static_cast<uint32_t>(file.Write(audio, count));
  if (written % kCaptureBlockAlign != 0) {
    // A write refused inside a sample: its first byte goes too, so the file and the header
    // hold whole samples, and the next write follows the last whole one.
    written -= written % kCaptureBlockAlign;
    file.Truncate(kWaveHeaderSize + state.dataLength + written);
  }
  state.dataLength += written;
}

// The input's delivery handler, on the input's thread. All of its work is done under the
// lock: Stop takes it to enter kStopping, so a delivery already under way finishes before
// Stop goes on, and the buffer the input's Stop hands back takes the final path.
void Deliver(AudioInput* input, AudioBuffer* buffer, void* user) {
  SoundRecorderState& state = *static_cast<SoundRecorderState*>(user);
  LockGuard guard(state.lock);
  if (buffer != &state.buffer || state.bufferPlace != CaptureBufferPlace::kWithInput) return;
  state.bufferPlace = CaptureBufferPlace::kWithRecorder;
  // Whole samples only, and never more than the buffer holds, whatever the input reports.
  uint32_t recorded = std::min(buffer->bytesRecorded, kCaptureBufferSize);
  recorded -= recorded % kCaptureBlockAlign;
  if (state.phase == SoundRecorderPhase::kStopping) {
    AppendAudio(state, state.captureBuffer, recorded);
    return;
  }
  std::memcpy(state.copyBuffer, state.captureBuffer, recorded);
  // The input has no buffer until this re-queue, so it comes before the slow file write.
  if (AudioInputQueue(input, buffer)) state.bufferPlace = CaptureBufferPlace::kWithInput;
  AppendAudio(state, state.copyBuffer, recorded);
}

// Opens the default input in the capture format, queues the capture buffer and starts
// capture; QUOREL_SUCCESS or the code of the step that failed.
int32_t OpenInput(SoundRecorderState& state) {
  AudioInput* input = AudioInputOpen(kCaptureFormat, Deliver, &state);
  if (input == nullptr) return QUOREL_START_INPUT_OPEN_FAILED;
  {
    LockGuard guard(state.lock);
    state.input = input;
    state.buffer = AudioBuffer{state.captureBuffer, kCaptureBufferSize, 0};
    if (!AudioInputQueue(input, &state.buffer)) return QUOREL_START_BUFFER_QUEUE_FAILED;
    state.bufferPlace = CaptureBufferPlace::kWithInput;
  }
  // Not under the lock: deliveries may begin at once and need it.
  return AudioInputStart(input) ? QUOREL_SUCCESS : QUOREL_START_CAPTURE_FAILED;
}

}  // namespace

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
  const int32_t result = OpenInput(state);

  LockGuard guard(state.lock);
  state.phase = SoundRecorderPhase::kRecording;
  state.startSettled.WakeAll();
  return result;
}

int32_t SoundRecorderStop() {
  SoundRecorderState& state = soundRecorderState;
  AudioInput* input;
  {
    LockGuard guard(state.lock);
    while (state.phase == SoundRecorderPhase::kStarting) state.startSettled.Wait(state.lock);
    if (state.phase != SoundRecorderPhase::kRecording) return 0;
    state.phase = SoundRecorderPhase::kStopping;
    input = state.input;
    state.input = nullptr;
  }
  // The lock is free while the input stops: its Stop hands the buffer back through Deliver.
  // Neither result changes what follows: the input is gone after Close either way.
  if (input != nullptr) {
    AudioInputStop(input);
    AudioInputClose(input);
  }

  LockGuard guard(state.lock);
  state.bufferPlace = CaptureBufferPlace::kWithRecorder;
  WaveHeaderFinalise(state.header, state.dataLength, state.file.Get());
  state.file.Destroy();
  state.phase = SoundRecorderPhase::kIdle;
  return static_cast<int32_t>(state.dataLength);
}

}  // namespace quorel
