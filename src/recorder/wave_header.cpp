#include "recorder/wave_header.h"

#include <cstring>

#include "recorder/capture_format.h"

namespace quorel {

namespace {

constexpr uint32_t kFormatChunkSize = 16;
// The chunk size counts everything after the chunk identifier and the chunk size itself.
constexpr uint32_t kChunkSizeOverhead = kWaveHeaderSize - 8;

void SetTag(uint8_t (&field)[4], const char (&tag)[5]) {
  std::memcpy(field, tag, 4);
}

class ByteWriter {
 public:
  explicit ByteWriter(uint8_t* out) : out_(out) {}
  void Tag(const uint8_t (&tag)[4]) {
    std::memcpy(out_, tag, 4);
    out_ += 4;
  }
  void Number(uint32_t value, int width) {
    for (int i = 0; i < width; ++i) *out_++ = static_cast<uint8_t>(value >> (8 * i));
  }

 private:
  uint8_t* out_;
};

bool WriteWhole(const WaveHeader& header, File& file) {
  uint8_t bytes[kWaveHeaderSize];
  WaveHeaderToBytes(header, bytes);
  return file.Write(bytes, sizeof bytes) == sizeof bytes;
}

}  // namespace

void WaveHeaderToBytes(const WaveHeader& header, uint8_t (&bytes)[kWaveHeaderSize]) {
  ByteWriter out(bytes);
  out.Tag(header.chunkId);
  out.Number(header.chunkSize, 4);
  out.Tag(header.formType);
  out.Tag(header.formatChunkId);
  out.Number(header.formatChunkSize, 4);
  out.Number(header.formatTag, 2);
  out.Number(header.channels, 2);
  out.Number(header.samplesPerSecond, 4);
  out.Number(header.averageBytesPerSecond, 4);
  out.Number(header.blockAlign, 2);
  out.Number(header.bitsPerSample, 2);
  out.Tag(header.dataChunkId);
  out.Number(header.dataLength, 4);
}

bool WaveHeaderWritePlaceholder(const WaveHeader& header, File& file) {
  return WriteWhole(header, file);
}

bool WaveHeaderFinalise(WaveHeader& header, uint32_t dataLength, File& file) {
  SetTag(header.chunkId, "RIFF");
  header.chunkSize = dataLength + kChunkSizeOverhead;
  SetTag(header.formType, "WAVE");
  SetTag(header.formatChunkId, "fmt ");
  header.formatChunkSize = kFormatChunkSize;
  header.formatTag = kWaveFormatPcm;
  header.channels = kCaptureChannels;
  header.samplesPerSecond = kCaptureSampleRate;
  header.averageBytesPerSecond = kCaptureBytesPerSecond;
  header.blockAlign = kCaptureBlockAlign;
  header.bitsPerSample = kCaptureBitsPerSample;
  SetTag(header.dataChunkId, "data");
  header.dataLength = dataLength;
  return file.Rewind() && WriteWhole(header, file);
}

}  // namespace quorel
