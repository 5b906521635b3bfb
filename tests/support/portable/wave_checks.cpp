#include "support/portable/wave_checks.h"

#include "support/portable/little_endian.h"

namespace quorel::test {

namespace {

template <typename Bytes>
std::string Faults(const Bytes& file, uint32_t dataLength) {
  if (file.size() < 44) return "only " + std::to_string(file.size()) + " bytes";
  struct Field {
    const char* name;
    uint32_t actual;
    uint32_t expected;
  };
  const Field fields[] = {
      {"chunk size", Number32(file, 4), dataLength + 36},
      {"format chunk size", Number32(file, 16), 16},
      {"format tag", Number16(file, 20), 1},
      {"channels", Number16(file, 22), 1},
      {"samples per second", Number32(file, 24), 16000},
      {"average bytes per second", Number32(file, 28), 32000},
      {"block alignment", Number16(file, 32), 2},
      {"bits per sample", Number16(file, 34), 16},
      {"data length", Number32(file, 40), dataLength},
      {"file size", static_cast<uint32_t>(file.size()), 44 + dataLength},
  };
  const std::string tags(file.begin(), file.begin() + 16);
  const std::string dataTag(file.begin() + 36, file.begin() + 40);
  std::string faults;
  if (tags.compare(0, 4, "RIFF") != 0 || tags.compare(8, 8, "WAVEfmt ") != 0 || dataTag != "data") {
    faults += "chunk tags wrong; ";
  }
  for (const Field& field : fields) {
    if (field.actual == field.expected) continue;
    faults += std::string(field.name) + " " + std::to_string(field.actual) + " instead of " +
              std::to_string(field.expected) + "; ";
  }
  return faults;
}

}  // namespace

std::string WaveFileFaults(const std::string& file, uint32_t dataLength) {
  return Faults(file, dataLength);
}

std::string WaveFileFaults(const std::vector<uint8_t>& file, uint32_t dataLength) {
  return Faults(file, dataLength);
}

}  // namespace quorel::test
