// The service's log: one line on standard output per connection that brought a request or
// failed on the way to one. A client chooses the bytes of its target, so they are escaped and the
// key is masked before they reach the log.
#pragma once

#include <chrono>
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

// Queues one line for standard output, written whole by a thread of its own, so that a reader
// that stops reading never holds up the caller. Past kLogQueueBytes waiting, lines are dropped
// and counted; the count is logged once there is room again.
inline constexpr size_t kLogQueueBytes = 1024 * 1024;
void WriteLogLine(std::string line);
// Waits up to timeout for the queued lines to be written (before the process exits); false if
// they were not.
bool FlushLog(std::chrono::milliseconds timeout);

}  // namespace quorel::service
