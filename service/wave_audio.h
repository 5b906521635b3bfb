// Checks that a part holds the audio the recogniser takes: a RIFF/WAVE file of 16-bit PCM,
// 16000 Hz, one channel, whose chunk sizes agree with its length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorel::service {

inline constexpr uint32_t kSampleRate = 16000;

enum class WaveVerdict {
  kAccepted,
  kUnsupported,  // not a RIFF/WAVE file, or a format other than 16 kHz mono 16-bit PCM
  kMalformed,    // a RIFF/WAVE file whose sizes or chunks do not add up
};

struct WaveAudio {
  WaveVerdict verdict = WaveVerdict::kMalformed;
  std::string problem;   // plain words when not accepted
  std::string_view pcm;  // little-endian 16-bit samples, inside the checked bytes
  double DurationSeconds() const { return pcm.size() / 2.0 / kSampleRate; }
};

WaveAudio CheckWave(std::string_view file);

}  // namespace quorel::service
