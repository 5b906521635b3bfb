// The audio input's functions, the same on every system: each checks its arguments once, for
// every backend, and calls the backend's entry.
#include "platform/audio_input.h"

#include "platform/audio_input_backend.h"

namespace quorel {

AudioInputBackend& AudioInputBackendInUse() {
  static AudioInputBackend inUse = kAudioInputBackend;
  return inUse;
}

AudioInput* AudioInputOpen(const AudioFormat& format, AudioDeliveryHandler handler, void* user) {
  if (handler == nullptr || format.bitsPerSample != 16 || format.channels == 0 ||
      format.samplesPerSecond == 0) {
    return nullptr;
  }
  return AudioInputBackendInUse().open(format, handler, user);
}

bool AudioInputQueue(AudioInput* input, AudioBuffer* buffer) {
  if (input == nullptr || buffer == nullptr || buffer->data == nullptr || buffer->capacity == 0) {
    return false;
  }
  return AudioInputBackendInUse().queue(input, buffer);
}

bool AudioInputStart(AudioInput* input) {
  return input != nullptr && AudioInputBackendInUse().start(input);
}

bool AudioInputStop(AudioInput* input) {
  return input != nullptr && AudioInputBackendInUse().stop(input);
}

bool AudioInputClose(AudioInput* input) {
  return input != nullptr && AudioInputBackendInUse().close(input);
}

}  // namespace quorel
