#include "support/audio/countdown_audio_input.h"

#include "platform/audio_input_backend.h"

namespace quorel::test {

namespace {

FaultCountdown* countdown = nullptr;
std::string calls;

// Logs the call; true when it is to fail.
bool Fails(const char* name) {
  calls += (calls.empty() ? "" : " ") + std::string(name);
  return countdown->ShouldFail();
}

AudioInput* Open(const AudioFormat& format, AudioDeliveryHandler handler, void* user) {
  return Fails("open") ? nullptr : kAudioInputBackend.open(format, handler, user);
}

bool Queue(AudioInput* input, AudioBuffer* buffer) {
  return !Fails("queue") && kAudioInputBackend.queue(input, buffer);
}

bool Start(AudioInput* input) {
  return !Fails("start") && kAudioInputBackend.start(input);
}

bool Stop(AudioInput* input) {
  const bool fails = Fails("stop");
  return kAudioInputBackend.stop(input) && !fails;
}

bool Close(AudioInput* input) {
  const bool fails = Fails("close");
  return kAudioInputBackend.close(input) && !fails;
}

}  // namespace

CountdownAudioInput::CountdownAudioInput(FaultCountdown& faults) {
  countdown = &faults;
  calls.clear();
  AudioInputBackendInUse() = {Open, Queue, Start, Stop, Close};
}

CountdownAudioInput::~CountdownAudioInput() {
  AudioInputBackendInUse() = kAudioInputBackend;
  countdown = nullptr;
}

const std::string& CountdownAudioInput::Calls() const {
  return calls;
}

}  // namespace quorel::test
