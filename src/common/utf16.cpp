#include "common/utf16.h"

namespace quorel {

namespace {
bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}
}  // namespace

size_t Utf16Length(const char16_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

int32_t NextCodePoint(const char16_t* text, size_t& index) {
  const char16_t unit = text[index++];
  if (IsLowSurrogate(unit)) return kInvalidCodePoint;
  if (!IsHighSurrogate(unit)) return unit;
  const char16_t low = text[index];
  if (!IsLowSurrogate(low)) return kInvalidCodePoint;
  ++index;
  return 0x10000 + ((static_cast<int32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
}

size_t EncodeUtf8(int32_t codePoint, char* out) {
  const auto byte = [](int32_t value) { return static_cast<char>(value); };
  if (codePoint < 0x80) {
    out[0] = byte(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = byte(0xC0 | (codePoint >> 6));
    out[1] = byte(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = byte(0xE0 | (codePoint >> 12));
    out[1] = byte(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = byte(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | (codePoint >> 18));
  out[1] = byte(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = byte(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = byte(0x80 | (codePoint & 0x3F));
  return 4;
}

bool Utf16ToUtf8(const char16_t* text, char* out, size_t capacity) {
  size_t written = 0;
  for (size_t index = 0; text[index] != 0;) {
    const int32_t codePoint = NextCodePoint(text, index);
    char encoded[4];
    const size_t length = codePoint == kInvalidCodePoint ? 0 : EncodeUtf8(codePoint, encoded);
    if (length == 0 || written + length >= capacity) {
      if (capacity > 0) out[0] = 0;
      return false;
    }
    for (size_t i = 0; i < length; ++i) out[written++] = encoded[i];
  }
  if (capacity == 0) return false;
  out[written] = 0;
  return true;
}

}  // namespace quorel
