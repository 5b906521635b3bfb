// A scripted audio input: a backend table for platform/audio_input.h without a device, for
// driving the recorder through races: the test decides when a buffer is handed back and how
// full it is, how slow the device is, and whether re-queues and the stop fail. Deliveries run
// on a thread of the backend's own, as a real input's do. One input at a time. (Failures of
// the real backend's calls, one by one, come from countdown_audio_input.h.)
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorel::fault_audio {

struct Plan {
  bool requeueFails = false;  // every queueing after Start's, from the handler
  bool stopFails = false;     // the stop still hands the buffer back, as every backend's does
  uint32_t stopBytes = 0;     // how full the buffer is that a stop hands back
  // A slow device: open and stop return this long after they are counted.
  std::chrono::milliseconds openDelay{0};
  std::chrono::milliseconds stopDelay{0};
};

struct CallCounts {
  int open = 0, queue = 0, stop = 0, close = 0;
};

// Sets what the next calls do and clears the counts, the event log and the signal counter.
void SetPlan(const Plan& plan);
CallCounts Calls();
// Waits until the calls counted satisfy done (for a test that acts while one is under way).
void WaitForCalls(bool (*done)(const CallCounts&));
// The order of what happened: "queued", "stop", "delivered" (a hand-back ended), "close".
std::vector<std::string> Events();

// Fills the first count bytes of the queued buffer with the next samples of a counter signal
// (sample i has the value i, modulo 65536) and hands it back through the handler; returns
// once the handler has returned, false when no buffer was queued.
bool DeliverQueuedBuffer(uint32_t count);
// Hands the buffer that was queued last to the handler again, although it is no longer
// queued (or still is), as a faulty backend might.
void DeliverAgain();

// Makes the next re-queue from inside the handler wait until ReleaseRequeue, so a test can
// act while a delivery is in progress.
void HoldNextRequeue();
void WaitUntilRequeueHeld();
void ReleaseRequeue();

}  // namespace quorel::fault_audio
