// The little-endian numbers of WAV files and requests, read from the bytes of a file held as a
// string or a byte vector.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel::test {

// The width-byte little-endian number at offset; the caller has checked the bytes are there.
template <typename Bytes>
uint32_t LittleEndian(const Bytes& bytes, size_t offset, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

template <typename Bytes>
uint32_t Number32(const Bytes& bytes, size_t offset) {
  return LittleEndian(bytes, offset, 4);
}

template <typename Bytes>
uint16_t Number16(const Bytes& bytes, size_t offset) {
  return static_cast<uint16_t>(LittleEndian(bytes, offset, 2));
}

}  // namespace quorel::test
