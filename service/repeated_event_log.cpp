#include "repeated_event_log.h"

#include <ctime>

#include "log_line.h"

namespace quorel::service {

namespace {

constexpr std::chrono::seconds kWindow{1};

}  // namespace

RepeatedEventLog::RepeatedEventLog(const boost::asio::any_io_executor& executor, std::string what)
    : timer_(executor), what_(std::move(what)) {}

void RepeatedEventLog::Note(const std::string& line) {
  const auto now = std::chrono::steady_clock::now();
  if (flushed_ || now >= windowEnd_) {
    WriteLogLine(line);
    windowEnd_ = now + kWindow;
    return;
  }
  if (held_++ > 0) return;
  timer_.expires_at(windowEnd_);
  timer_.async_wait([this](const boost::system::error_code& error) {
    if (!error) LogCount();
  });
}

void RepeatedEventLog::Flush() {
  flushed_ = true;
  timer_.cancel();
  LogCount();
}

void RepeatedEventLog::LogCount() {
  if (held_ == 0) return;
  WriteLogLine(FormatConnectionLogLine(
      "-", std::to_string(held_) + " " + what_ + " in the last second", std::time(nullptr)));
  held_ = 0;
}

}  // namespace quorel::service
