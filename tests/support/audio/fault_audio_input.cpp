#include "support/audio/fault_audio_input.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/audio_input.h"

namespace quorel {

struct AudioInput {
  AudioInputCallback callback;
  uintptr_t instance;
};

namespace {

constexpr int kFailed = 1;

struct Backend {
  std::mutex mutex;
  std::condition_variable changed;
  fault_audio::Plan plan;
  fault_audio::CallCounts calls;
  std::vector<std::string> events;
  AudioInput* input = nullptr;
  AudioBuffer* queued = nullptr;
  bool capturing = false;
  bool firstQueueing = true;
  uint32_t nextSample = 0;
  bool holdArmed = false;
  bool holding = false;
};

Backend& TheBackend() {
  static Backend backend;
  return backend;
}

// Hands the queued buffer back, after adding count bytes of signal, on a thread of its own.
bool HandBack(uint32_t count) {
  Backend& backend = TheBackend();
  AudioBuffer* buffer;
  AudioInput* input;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    buffer = backend.queued;
    input = backend.input;
    if (buffer == nullptr) return false;
    backend.queued = nullptr;
    for (uint32_t i = 0; i + 1 < count && buffer->bytesRecorded + 1 < buffer->bufferLength;
         i += 2, ++backend.nextSample) {
      buffer->data[buffer->bytesRecorded++] = static_cast<uint8_t>(backend.nextSample);
      buffer->data[buffer->bytesRecorded++] = static_cast<uint8_t>(backend.nextSample >> 8);
    }
  }
  std::thread([&] {
    input->callback(input, kAudioInputData, input->instance, reinterpret_cast<uintptr_t>(buffer),
                    0);
  }).join();
  std::lock_guard<std::mutex> guard(backend.mutex);
  backend.events.push_back("delivered");
  return true;
}

}  // namespace

namespace fault_audio {

void SetPlan(const Plan& plan) {
  Backend& backend = TheBackend();
  std::lock_guard<std::mutex> guard(backend.mutex);
  backend.plan = plan;
  backend.calls = CallCounts{};
  backend.events.clear();
  backend.nextSample = 0;
}

CallCounts Calls() {
  std::lock_guard<std::mutex> guard(TheBackend().mutex);
  return TheBackend().calls;
}

void WaitForCalls(bool (*done)(const CallCounts&)) {
  Backend& backend = TheBackend();
  std::unique_lock<std::mutex> lock(backend.mutex);
  backend.changed.wait(lock, [&] { return done(backend.calls); });
}

std::vector<std::string> Events() {
  std::lock_guard<std::mutex> guard(TheBackend().mutex);
  return TheBackend().events;
}

bool DeliverQueuedBuffer(uint32_t count) {
  return HandBack(count);
}

void SendMessage(uint32_t message) {
  Backend& backend = TheBackend();
  AudioInput* input;
  uintptr_t buffer;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    input = backend.input;
    buffer = reinterpret_cast<uintptr_t>(backend.queued);
  }
  std::thread([&] { input->callback(input, message, input->instance, buffer, 0); }).join();
}

void HoldNextRequeue() {
  std::lock_guard<std::mutex> guard(TheBackend().mutex);
  TheBackend().holdArmed = true;
}

void WaitUntilRequeueHeld() {
  Backend& backend = TheBackend();
  std::unique_lock<std::mutex> lock(backend.mutex);
  backend.changed.wait(lock, [&] { return backend.holding; });
}

void ReleaseRequeue() {
  Backend& backend = TheBackend();
  std::lock_guard<std::mutex> guard(backend.mutex);
  backend.holding = false;
  backend.changed.notify_all();
}

}  // namespace fault_audio

int AudioInputOpen(AudioInputHandle* handle, const AudioFormat&, AudioInputCallback callback,
                   uintptr_t instance) {
  Backend& backend = TheBackend();
  *handle = nullptr;
  std::chrono::milliseconds delay;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    ++backend.calls.open;
    backend.changed.notify_all();
    delay = backend.plan.openDelay;
  }
  std::this_thread::sleep_for(delay);
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    if (backend.plan.openResult != 0) return backend.plan.openResult;
    backend.input = new AudioInput{callback, instance};
    backend.queued = nullptr;
    backend.capturing = false;
    backend.firstQueueing = true;
    *handle = backend.input;
  }
  callback(*handle, kAudioInputOpened, instance, 0, 0);
  return 0;
}

int AudioInputPrepareBuffer(AudioInputHandle, AudioBuffer*) {
  std::lock_guard<std::mutex> guard(TheBackend().mutex);
  ++TheBackend().calls.prepare;
  return 0;
}

int AudioInputUnprepareBuffer(AudioInputHandle, AudioBuffer*) {
  std::lock_guard<std::mutex> guard(TheBackend().mutex);
  ++TheBackend().calls.unprepare;
  return 0;
}

int AudioInputAddBuffer(AudioInputHandle, AudioBuffer* buffer) {
  Backend& backend = TheBackend();
  std::unique_lock<std::mutex> lock(backend.mutex);
  ++backend.calls.add;
  if (backend.firstQueueing) {
    backend.firstQueueing = false;
    if (backend.plan.addResult != 0) return backend.plan.addResult;
  } else if (backend.holdArmed) {
    backend.holdArmed = false;
    backend.holding = true;
    backend.changed.notify_all();
    backend.changed.wait(lock, [&] { return !backend.holding; });
  }
  if (backend.queued != nullptr) return kFailed;
  backend.queued = buffer;
  backend.events.push_back("requeued");
  return 0;
}

int AudioInputStart(AudioInputHandle) {
  Backend& backend = TheBackend();
  std::lock_guard<std::mutex> guard(backend.mutex);
  ++backend.calls.start;
  if (backend.plan.startResult != 0) return backend.plan.startResult;
  backend.capturing = true;
  return 0;
}

int AudioInputStop(AudioInputHandle) {
  Backend& backend = TheBackend();
  uint32_t stopBytes;
  std::chrono::milliseconds delay;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    ++backend.calls.stop;
    backend.changed.notify_all();
    delay = backend.plan.stopDelay;
  }
  std::this_thread::sleep_for(delay);
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    backend.events.push_back("stop");
    const bool handsBack = backend.capturing && !backend.plan.stopKeepsBuffer;
    backend.capturing = false;
    if (!handsBack) return 0;
    stopBytes = backend.plan.stopBytes;
  }
  HandBack(stopBytes);
  return 0;
}

int AudioInputReset(AudioInputHandle) {
  Backend& backend = TheBackend();
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    ++backend.calls.reset;
    backend.events.push_back("reset");
    backend.capturing = false;
    if (backend.plan.resetResult != 0) return backend.plan.resetResult;
  }
  HandBack(0);
  return 0;
}

int AudioInputClose(AudioInputHandle input) {
  Backend& backend = TheBackend();
  HandBack(0);  // a buffer still queued comes back first, as from every backend
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    ++backend.calls.close;
    backend.input = nullptr;
    backend.queued = nullptr;
  }
  input->callback(input, kAudioInputClosed, input->instance, 0, 0);
  delete input;
  return 0;
}

}  // namespace quorel
