#include "log_line.h"

#include <cstdio>

#include "request_target.h"

namespace quorel::service {

namespace {

std::string Stamp(std::time_t now) {
  char stamp[32];
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return stamp;
}

}  // namespace

std::string EscapeForLog(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      escaped += c;
    } else {
      escaped += "\\x";
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    }
  }
  return escaped;
}

std::string FormatLogLine(const LogEntry& entry, std::time_t now) {
  std::string line = Stamp(now) + " " + entry.peer + " " +
                     EscapeForLog(entry.method.empty() ? "-" : entry.method) + " " +
                     EscapeForLog(entry.target.empty() ? "-" : RedactKey(entry.target)) + " " +
                     std::to_string(entry.status) + " in=" +
                     EscapeForLog(entry.declaredLength.empty() ? "-" : entry.declaredLength) +
                     " out=" + std::to_string(entry.answerBytes);
  if (!entry.note.empty()) line += " " + EscapeForLog(entry.note);
  return line;
}

std::string FormatConnectionLogLine(const std::string& peer, std::string_view note,
                                    std::time_t now) {
  return Stamp(now) + " " + peer + " " + EscapeForLog(note);
}

void WriteLogLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace quorel::service
