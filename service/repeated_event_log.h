// Events a flood of clients can repeat without end (failed TLS handshakes, connections closed to
// make room): the first of each second is logged in full, the rest of that second as one line
// with their count, so the log grows by two lines a second at most.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <string>

namespace quorel::service {

class RepeatedEventLog {
 public:
  // what: how the count's line names them, e.g. "more TLS handshakes failed".
  RepeatedEventLog(const boost::asio::any_io_executor& executor, std::string what);

  void Note(const std::string& line);
  // At a stop: logs the count held back, and from then on every event in full, so that no timer
  // holds the loop up.
  void Flush();

 private:
  void LogCount();

  boost::asio::steady_timer timer_;
  const std::string what_;
  size_t held_ = 0;
  bool flushed_ = false;
  std::chrono::steady_clock::time_point windowEnd_;
};

}  // namespace quorel::service
