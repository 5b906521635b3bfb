// Bytes written as an introducer and two hex digits, as targets and log lines carry them.
#pragma once

#include <string>
#include <string_view>

namespace quorel::service {

// text with each byte that escape picks written as introducer and two of hexDigits.
template <typename Escape>
std::string EscapeBytes(std::string_view text, std::string_view introducer, const char* hexDigits,
                        Escape escape) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!escape(byte)) {
      escaped += c;
      continue;
    }
    escaped += introducer;
    escaped += hexDigits[byte >> 4];
    escaped += hexDigits[byte & 0x0F];
  }
  return escaped;
}

}  // namespace quorel::service
