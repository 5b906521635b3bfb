#include "wave_file_checks.h"

#include "harness.h"

namespace quorel::test {

namespace {

uint32_t Little32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

uint32_t Little16(const std::string& bytes, size_t offset) {
  return static_cast<uint8_t>(bytes[offset]) | static_cast<uint8_t>(bytes[offset + 1]) << 8;
}

}  // namespace

void CheckWaveFile(const std::string& file, int32_t dataLength) {
  REQUIRE(dataLength >= 0);
  REQUIRE_EQ(file.size(), 44u + static_cast<uint32_t>(dataLength));
  CHECK_EQ(file.substr(0, 4), "RIFF");
  CHECK_EQ(Little32(file, 4), static_cast<uint32_t>(dataLength) + 36);
  CHECK_EQ(file.substr(8, 8), "WAVEfmt ");
  CHECK_EQ(Little32(file, 16), 16u);
  CHECK_EQ(Little16(file, 20), 1u);
  CHECK_EQ(Little16(file, 22), 1u);
  CHECK_EQ(Little32(file, 24), 16000u);
  CHECK_EQ(Little32(file, 28), 32000u);
  CHECK_EQ(Little16(file, 32), 2u);
  CHECK_EQ(Little16(file, 34), 16u);
  CHECK_EQ(file.substr(36, 4), "data");
  CHECK_EQ(Little32(file, 40), static_cast<uint32_t>(dataLength));
}

}  // namespace quorel::test
