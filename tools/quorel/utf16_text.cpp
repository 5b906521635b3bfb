#include "utf16_text.h"

namespace quorel::tool {

bool Utf8ToUtf16(const std::string& text, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80           ? 0
                      : (lead >> 5) == 0x6  ? 1
                      : (lead >> 4) == 0xE  ? 2
                      : (lead >> 3) == 0x1E ? 3
                                            : -1;
    if (extra < 0 || text.size() - i < static_cast<size_t>(extra) + 1) return false;
    char32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (point < kLeast[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      return false;  // overlong forms, surrogates and points past Unicode
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      *out += static_cast<char16_t>(0xD800 + (point >> 10));
      *out += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    } else {
      *out += static_cast<char16_t>(point);
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace quorel::tool
