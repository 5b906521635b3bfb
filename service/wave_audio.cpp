#include "wave_audio.h"

namespace quorel::service {

namespace {

constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kRiffHeaderBytes = 12;
constexpr size_t kPcmFormatBytes = 16;
constexpr uint16_t kPcmFormatTag = 1;
constexpr uint16_t kExtensibleFormatTag = 0xFFFE;

uint32_t ReadLe(std::string_view bytes, size_t at, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return value;
}

WaveAudio Verdict(WaveVerdict verdict, std::string problem) {
  WaveAudio audio;
  audio.verdict = verdict;
  audio.problem = std::move(problem);
  return audio;
}

// Empty when the format chunk describes 16 kHz mono 16-bit PCM; otherwise what differs.
std::string FormatMismatch(std::string_view format) {
  const uint32_t tag = ReadLe(format, 0, 2);
  const uint32_t channels = ReadLe(format, 2, 2);
  const uint32_t rate = ReadLe(format, 4, 4);
  const uint32_t byteRate = ReadLe(format, 8, 4);
  const uint32_t blockAlign = ReadLe(format, 12, 2);
  const uint32_t bits = ReadLe(format, 14, 2);
  if (tag != kPcmFormatTag && tag != kExtensibleFormatTag) {
    return "the audio is not PCM (format tag " + std::to_string(tag) + ")";
  }
  if (tag == kExtensibleFormatTag) return "the audio uses the extensible format; plain PCM needed";
  if (channels != 1) return "the audio has " + std::to_string(channels) + " channels; mono needed";
  if (rate != kSampleRate) {
    return "the audio is sampled at " + std::to_string(rate) + " Hz; 16000 Hz needed";
  }
  if (bits != 16) return "the audio has " + std::to_string(bits) + "-bit samples; 16-bit needed";
  if (blockAlign != 2 || byteRate != 2 * kSampleRate) {
    return "the format's block alignment or byte rate contradicts 16 kHz mono 16-bit";
  }
  return {};
}

}  // namespace

WaveAudio CheckWave(std::string_view file) {
  if (file.size() < kRiffHeaderBytes || file.substr(0, 4) != "RIFF" ||
      file.substr(8, 4) != "WAVE") {
    return Verdict(WaveVerdict::kUnsupported, "the audio is not a RIFF/WAVE file");
  }
  const uint64_t riffSize = ReadLe(file, 4, 4);
  if (riffSize + kChunkHeaderBytes != file.size()) {
    return Verdict(WaveVerdict::kMalformed, "the RIFF size (" + std::to_string(riffSize) +
                                                ") does not match the file's " +
                                                std::to_string(file.size()) + " bytes");
  }

  std::string_view format;
  std::string_view data;
  bool haveData = false;
  size_t at = kRiffHeaderBytes;
  while (at < file.size()) {
    if (file.size() - at < kChunkHeaderBytes) {
      return Verdict(WaveVerdict::kMalformed, "the file ends inside a chunk header");
    }
    const std::string_view id = file.substr(at, 4);
    const uint64_t size = ReadLe(file, at + 4, 4);
    const size_t body = at + kChunkHeaderBytes;
    if (size > file.size() - body) {
      return Verdict(WaveVerdict::kMalformed, "the \"" + std::string(id) + "\" chunk claims " +
                                                  std::to_string(size) + " bytes; only " +
                                                  std::to_string(file.size() - body) + " follow");
    }
    if (id == "fmt ") {
      if (!format.empty() || haveData || size < kPcmFormatBytes) {
        return Verdict(WaveVerdict::kMalformed, "the format chunk is repeated, late or short");
      }
      format = file.substr(body, size);
    } else if (id == "data") {
      if (format.empty() || haveData) {
        return Verdict(WaveVerdict::kMalformed,
                       "the data chunk is repeated or precedes the format");
      }
      data = file.substr(body, size);
      haveData = true;
    }
    at = body + size + (size & 1);  // chunks are padded to an even length
  }
  if (format.empty()) return Verdict(WaveVerdict::kMalformed, "the file has no format chunk");
  if (std::string mismatch = FormatMismatch(format); !mismatch.empty()) {
    return Verdict(WaveVerdict::kUnsupported, std::move(mismatch));
  }
  if (!haveData) return Verdict(WaveVerdict::kMalformed, "the file has no data chunk");
  if (data.size() % 2 != 0) {
    return Verdict(WaveVerdict::kMalformed, "the data length is odd: not whole 16-bit samples");
  }
  WaveAudio audio;
  audio.verdict = WaveVerdict::kAccepted;
  audio.pcm = data;
  return audio;
}

}  // namespace quorel::service
