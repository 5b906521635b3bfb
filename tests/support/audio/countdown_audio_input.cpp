#include "support/audio/countdown_audio_input.h"

#include "platform/audio_input_backend.h"

namespace quorel::test {

namespace {

FaultCountdown* countdown = nullptr;

AudioInput* Open(const AudioFormat& format, AudioDeliveryHandler handler, void* user) {
  return countdown->ShouldFail() ? nullptr : kAudioInputBackend.open(format, handler, user);
}

bool Queue(AudioInput* input, AudioBuffer* buffer) {
  return !countdown->ShouldFail() && kAudioInputBackend.queue(input, buffer);
}

bool Start(AudioInput* input) {
  return !countdown->ShouldFail() && kAudioInputBackend.start(input);
}

bool Stop(AudioInput* input) {
  const bool fails = countdown->ShouldFail();
  return kAudioInputBackend.stop(input) && !fails;
}

bool Close(AudioInput* input) {
  const bool fails = countdown->ShouldFail();
  return kAudioInputBackend.close(input) && !fails;
}

}  // namespace

CountdownAudioInput::CountdownAudioInput(FaultCountdown& faults) {
  countdown = &faults;
  AudioInputBackendInUse() = {Open, Queue, Start, Stop, Close};
}

CountdownAudioInput::~CountdownAudioInput() {
  AudioInputBackendInUse() = kAudioInputBackend;
  countdown = nullptr;
}

}  // namespace quorel::test
