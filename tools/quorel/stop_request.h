// What ends a recording besides its time running out: Enter on standard input, SIGINT or
// SIGTERM. While one of these objects lives, those signals only ask the recording to stop.
#pragma once

namespace quorel::tool {

enum class StopReason { kNone, kEnter, kSignal };

class StopRequest {
 public:
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  // Waits up to timeoutMs for a reason to stop.
  StopReason Wait(int timeoutMs);

 private:
  bool watchInput_ = true;  // until standard input ends
};

}  // namespace quorel::tool
