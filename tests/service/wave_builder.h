// Builds WAV files and multipart envelopes for the service's tests.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::test {

struct WaveFormat {
  uint16_t formatTag = 1;
  uint16_t channels = 1;
  uint32_t sampleRate = 16000;
  uint16_t bitsPerSample = 16;
};

// A canonical 44-byte-header WAV of the given format around pcm. dataLengthDelta is added to
// the data length written in the header (a lying header).
std::string MakeWave(const std::string& pcm, const WaveFormat& format = {},
                     int64_t dataLengthDelta = 0);

// seconds of digital silence at 16 kHz mono 16-bit.
std::string SilencePcm(double seconds);

// The envelope the library sends around file.
std::string MakeEnvelope(const std::string& file, const std::string& token = "2026120818440712345");

// A multipart/form-data body as curl -F or a browser sends it: a text field "note" first, then
// file in the part "myfile" under the name "recording.wav" with a Content-Type of its own.
std::string MakeFormData(const std::string& file, const std::string& boundary);

}  // namespace quorel::test
