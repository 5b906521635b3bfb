// The 44-byte RIFF/WAVE header that starts every recording: written as a placeholder when the
// file is created, so the audio can follow it at once, and in final form when the recording
// stops and the data length is known.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace quorel {

constexpr uint32_t kWaveHeaderSize = 44;
// The largest even signed 32-bit count: the data length stops there, so that it stays a whole
// number of samples and fits the signed count that Stop returns.
constexpr uint32_t kMaxWaveDataLength = 2147483646;

struct WaveHeader {
  uint8_t chunkId[4];
  uint32_t chunkSize;
  uint8_t formType[4];
  uint8_t formatChunkId[4];
  uint32_t formatChunkSize;
  uint16_t formatTag;
  uint16_t channels;
  uint32_t samplesPerSecond;
  uint32_t averageBytesPerSecond;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint8_t dataChunkId[4];
  uint32_t dataLength;
};
static_assert(sizeof(WaveHeader) == kWaveHeaderSize, "the record mirrors the file's header");

// The header's bytes in file order, numbers little-endian.
void WaveHeaderToBytes(const WaveHeader& header, uint8_t (&bytes)[kWaveHeaderSize]);

// Writes the header as it stands at the file's current position; true when all 44 bytes
// reached the file.
bool WaveHeaderWritePlaceholder(const WaveHeader& header, File& file);

// Sets every field for dataLength audio bytes and writes the header over the placeholder at
// the start of the file; true when all 44 bytes reached the file.
bool WaveHeaderFinalise(WaveHeader& header, uint32_t dataLength, File& file);

}  // namespace quorel
