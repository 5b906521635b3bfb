// An audio input that implements platform/audio_input.h without a device, for driving the
// recorder through failures and races: each step can be made to fail, and the test decides
// when a buffer is handed back and how full it is. Deliveries run on a thread of the backend's
// own, as a real input's do. One input at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorel::fault_audio {

struct Plan {
  int openResult = 0;
  int addResult = 0;  // for the first queueing only: re-queues from the handler succeed
  int startResult = 0;
  int resetResult = 0;
  uint32_t stopBytes = 0;        // how full the buffer is that a stop hands back
  bool stopKeepsBuffer = false;  // a stop that leaves the buffer queued, for reset to return
  // A slow device: open and stop return this long after they are counted.
  std::chrono::milliseconds openDelay{0};
  std::chrono::milliseconds stopDelay{0};
};

struct CallCounts {
  int open = 0, prepare = 0, add = 0, start = 0, stop = 0, reset = 0, unprepare = 0, close = 0;
};

// Sets what the next calls do and clears the counts, the event log and the signal counter.
void SetPlan(const Plan& plan);
CallCounts Calls();
// Waits until the calls counted satisfy done (for a test that acts while one is under way).
void WaitForCalls(bool (*done)(const CallCounts&));
// The order of what happened: "requeued", "stop", "reset", "delivered" (a hand-back ended).
std::vector<std::string> Events();

// Fills the first count bytes of the queued buffer with the next samples of a counter signal
// (sample i has the value i, modulo 65536) and hands it back through the handler; returns
// once the handler has returned, false when no buffer was queued.
bool DeliverQueuedBuffer(uint32_t count);
// Sends message with the queued buffer as param1, without taking the buffer off the queue.
void SendMessage(uint32_t message);

// Makes the next re-queue from inside the handler wait until ReleaseRequeue, so a test can
// act while a delivery is in progress.
void HoldNextRequeue();
void WaitUntilRequeueHeld();
void ReleaseRequeue();

}  // namespace quorel::fault_audio
