#include "support/audio/fault_audio_input.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/audio_input_backend.h"

namespace quorel {

struct AudioInput {
  AudioDeliveryHandler handler;
  void* user;
};

namespace {

struct Backend {
  std::mutex mutex;
  std::condition_variable changed;
  fault_audio::Plan plan;
  fault_audio::CallCounts calls;
  std::vector<std::string> events;
  AudioInput* input = nullptr;
  AudioBuffer* queued = nullptr;
  AudioBuffer* lastQueued = nullptr;
  bool firstQueueing = true;
  uint32_t nextSample = 0;
  bool holdArmed = false;
  bool holding = false;
  bool delivering = false;
};

Backend& TheBackend() {
  static Backend backend;
  return backend;
}

// As every backend's Stop and Close: a delivery under way (one the test started) ends first.
void AwaitDelivery() {
  Backend& backend = TheBackend();
  std::unique_lock<std::mutex> lock(backend.mutex);
  backend.changed.wait(lock, [&] { return !backend.delivering; });
}

// Counts a call and wakes a test waiting for it, then waits the plan's delay for it (a slow
// device).
void CountSlowCall(int fault_audio::CallCounts::*call,
                   std::chrono::milliseconds fault_audio::Plan::*delay) {
  Backend& backend = TheBackend();
  std::chrono::milliseconds wait;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    ++(backend.calls.*call);
    backend.changed.notify_all();
    wait = backend.plan.*delay;
  }
  std::this_thread::sleep_for(wait);
}

AudioInput* Open(const AudioFormat&, AudioDeliveryHandler handler, void* user) {
  CountSlowCall(&fault_audio::CallCounts::open, &fault_audio::Plan::openDelay);
  Backend& backend = TheBackend();
  std::lock_guard<std::mutex> guard(backend.mutex);
  backend.input = new AudioInput{handler, user};
  backend.queued = nullptr;
  backend.firstQueueing = true;
  return backend.input;
}

bool Queue(AudioInput*, AudioBuffer* buffer) {
  Backend& backend = TheBackend();
  std::unique_lock<std::mutex> lock(backend.mutex);
  ++backend.calls.queue;
  const bool requeue = !std::exchange(backend.firstQueueing, false);
  if (requeue && backend.plan.requeueFails) return false;
  if (requeue && backend.holdArmed) {
    backend.holdArmed = false;
    backend.holding = true;
    backend.changed.notify_all();
    backend.changed.wait(lock, [&] { return !backend.holding; });
  }
  if (backend.queued != nullptr) return false;
  buffer->bytesRecorded = 0;
  backend.queued = buffer;
  backend.lastQueued = buffer;
  backend.events.push_back("queued");
  return true;
}

bool Start(AudioInput*) {
  return true;
}

bool Stop(AudioInput*) {
  CountSlowCall(&fault_audio::CallCounts::stop, &fault_audio::Plan::stopDelay);
  Backend& backend = TheBackend();
  uint32_t stopBytes;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    backend.events.push_back("stop");
    stopBytes = backend.plan.stopBytes;
  }
  fault_audio::DeliverQueuedBuffer(stopBytes);
  AwaitDelivery();
  std::lock_guard<std::mutex> guard(backend.mutex);
  return !backend.plan.stopFails;
}

bool Close(AudioInput* input) {
  Backend& backend = TheBackend();
  fault_audio::DeliverQueuedBuffer(
      0);  // a buffer still queued comes back first, as from every backend
  AwaitDelivery();
  std::lock_guard<std::mutex> guard(backend.mutex);
  ++backend.calls.close;
  backend.events.push_back("close");
  backend.input = nullptr;
  backend.queued = nullptr;
  delete input;
  return true;
}

}  // namespace

const AudioInputBackend kAudioInputBackend = {Open, Queue, Start, Stop, Close};

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

// On a thread of its own, as a device's deliveries.
bool DeliverQueuedBuffer(uint32_t count) {
  Backend& backend = TheBackend();
  AudioBuffer* buffer;
  AudioInput* input;
  {
    std::lock_guard<std::mutex> guard(backend.mutex);
    buffer = backend.queued;
    input = backend.input;
    if (buffer == nullptr) return false;
    backend.queued = nullptr;
    backend.delivering = true;
    for (uint32_t i = 0; i + 1 < count && buffer->bytesRecorded + 1 < buffer->capacity;
         i += 2, ++backend.nextSample) {
      buffer->data[buffer->bytesRecorded++] = static_cast<uint8_t>(backend.nextSample);
      buffer->data[buffer->bytesRecorded++] = static_cast<uint8_t>(backend.nextSample >> 8);
    }
  }
  std::thread([&] { input->handler(input, buffer, input->user); }).join();
  std::lock_guard<std::mutex> guard(backend.mutex);
  backend.events.push_back("delivered");
  backend.delivering = false;
  backend.changed.notify_all();
  return true;
}

void DeliverAgain() {
  std::unique_lock<std::mutex> lock(TheBackend().mutex);
  AudioInput* const input = TheBackend().input;
  AudioBuffer* const buffer = TheBackend().lastQueued;
  lock.unlock();
  std::thread([&] { input->handler(input, buffer, input->user); }).join();
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
}  // namespace quorel
