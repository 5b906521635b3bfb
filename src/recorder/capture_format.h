// The one audio format the recorder captures and writes: 16000 Hz, 16-bit PCM, one channel,
// delivered in one-second buffers.
#pragma once

#include <cstdint>

namespace quorel {

// The WAV header's format tag for integer PCM.
constexpr uint16_t kWaveFormatPcm = 1;
constexpr int32_t kCaptureSampleRate = 16000;
constexpr uint16_t kCaptureChannels = 1;
constexpr uint16_t kCaptureBitsPerSample = 16;
constexpr uint16_t kCaptureBlockAlign = kCaptureChannels * kCaptureBitsPerSample / 8;
constexpr uint32_t kCaptureBytesPerSecond = kCaptureSampleRate * kCaptureBlockAlign;
// The single capture buffer holds one second of audio.
constexpr uint32_t kCaptureBufferSize = kCaptureBytesPerSecond;

}  // namespace quorel
