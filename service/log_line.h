// The service's log: one line on standard output per connection that brought a request or
// failed on the way to one. A client chooses the bytes of its target, so they are escaped and the
// key is masked before they reach the log.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace quorel::service {

struct LogEntry {
  std::string peer;  // address:port of the client
  std::string method;
  std::string target;  // raw, as on the request line
  int status = 0;
  std::string declaredLength;  // the Content-Length as sent, empty when none
  size_t answerBytes = 0;
  std::string note;  // timing, or why the connection ended early
};

// Bytes outside printable ASCII, and the backslash, as \xHH: no client can start a line of its
// own or send terminal controls to whoever reads the log.
std::string EscapeForLog(std::string_view text);

// A request: "TIME PEER METHOD TARGET STATUS in=LENGTH out=BYTES[ NOTE]".
std::string FormatLogLine(const LogEntry& entry, std::time_t now);
// A connection without a request (a failed handshake): "TIME PEER NOTE".
std::string FormatConnectionLogLine(const std::string& peer, std::string_view note,
                                    std::time_t now);

// Writes one line with one call, so that lines from different threads stay whole.
void WriteLogLine(const std::string& line);

}  // namespace quorel::service
