#include "service/wave_builder.h"

namespace quorel::test {

namespace {

void PutLe(std::string& out, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string MakeWave(const std::string& pcm, const WaveFormat& format, int64_t dataLengthDelta) {
  const uint32_t dataLength =
      static_cast<uint32_t>(static_cast<int64_t>(pcm.size()) + dataLengthDelta);
  const uint16_t blockAlign = format.channels * format.bitsPerSample / 8;
  std::string wave = "RIFF";
  PutLe(wave, dataLength + 36, 4);
  wave += "WAVEfmt ";
  PutLe(wave, 16, 4);
  PutLe(wave, format.formatTag, 2);
  PutLe(wave, format.channels, 2);
  PutLe(wave, format.sampleRate, 4);
  PutLe(wave, format.sampleRate * blockAlign, 4);
  PutLe(wave, blockAlign, 2);
  PutLe(wave, format.bitsPerSample, 2);
  wave += "data";
  PutLe(wave, dataLength, 4);
  return wave + pcm;
}

std::string SilencePcm(double seconds) {
  return std::string(static_cast<size_t>(seconds * 16000) * 2, '\0');
}

std::string MakeEnvelope(const std::string& file, const std::string& token) {
  return "--" + token +
         "\r\nContent-Disposition: form-data; name=\"myfile\"; filename=\"message.wav\"\r\n\r\n" +
         file + "\r\n--" + token + "--\r\n";
}

std::string MakeFormData(const std::string& file, const std::string& boundary) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n--" +
         boundary +
         "\r\nContent-Disposition: form-data; name=\"myfile\"; filename=\"recording.wav\"\r\n"
         "Content-Type: audio/x-wav\r\n\r\n" +
         file + "\r\n--" + boundary + "--\r\n";
}

}  // namespace quorel::test
