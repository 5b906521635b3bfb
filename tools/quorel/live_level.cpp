#include "live_level.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "level_meter.h"

namespace quorel::tool {

namespace {

constexpr unsigned kRate = 16000;
constexpr unsigned kLatencyUs = 200000;  // the ring buffer outlasts any wait between refreshes

// ALSA reports a device it cannot open on stderr, over the meter; the tool says it its own way.
void Silent(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

LiveLevel::LiveLevel()
    : samples_(kRate * kLatencyUs / 1000000),
      lastPeakDbfs_(-std::numeric_limits<double>::infinity()) {
  snd_lib_error_set_handler(Silent);
  if (snd_pcm_open(&pcm_, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
    pcm_ = nullptr;
    return;
  }
  if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1,
                         kLatencyUs) < 0 ||
      snd_pcm_start(pcm_) < 0) {
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
}

LiveLevel::~LiveLevel() {
  if (pcm_ != nullptr) snd_pcm_close(pcm_);
}

double LiveLevel::PeakDbfs() {
  if (pcm_ == nullptr) return lastPeakDbfs_;
  int peak = -1;
  for (;;) {
    const snd_pcm_sframes_t read = snd_pcm_readi(pcm_, samples_.data(), samples_.size());
    if (read == -EPIPE || read == -ESTRPIPE) {  // an overrun: carry on from now
      if (snd_pcm_prepare(pcm_) < 0 || snd_pcm_start(pcm_) < 0) break;
      continue;
    }
    if (read <= 0) break;
    for (snd_pcm_sframes_t i = 0; i < read; ++i) {
      peak = std::max(peak, std::abs(static_cast<int>(samples_[i])));
    }
  }
  if (peak >= 0) lastPeakDbfs_ = PeakToDbfs(peak);
  return lastPeakDbfs_;
}

}  // namespace quorel::tool
