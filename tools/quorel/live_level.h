// The input level as it is now, from a second capture stream of the default input beside the
// library's own. Where the input cannot be shared (a bare hardware device the library already
// holds), there is none and the meter falls back to the file.
#pragma once

#include <cstdint>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;

namespace quorel::tool {

class LiveLevel {
 public:
  LiveLevel();  // opens and starts the stream; Available() says whether that worked
  ~LiveLevel();
  LiveLevel(const LiveLevel&) = delete;
  LiveLevel& operator=(const LiveLevel&) = delete;

  bool Available() const { return pcm_ != nullptr; }
  // Peak of what arrived since the last call, in dB below full scale (-inf for silence); the
  // previous value when nothing new has arrived. Never waits.
  double PeakDbfs();

 private:
  snd_pcm_t* pcm_ = nullptr;
  std::vector<int16_t> samples_;
  double lastPeakDbfs_;
};

}  // namespace quorel::tool
