#include "log_line.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "byte_escape.h"
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

class LogQueue {
 public:
  LogQueue() {
    std::thread([this] { Write(); }).detach();
  }

  void Push(std::string line) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (bytes_ + line.size() + 1 > kLogQueueBytes) {
        ++dropped_;
        return;
      }
      NoteDroppedLocked();
      Enqueue(std::move(line));
    }
    added_.notify_one();
  }

  bool Flush(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    NoteDroppedLocked();
    added_.notify_one();
    return written_.wait_for(lock, timeout, [this] { return lines_.empty() && !writing_; });
  }

 private:
  void NoteDroppedLocked() {
    if (dropped_ == 0) return;
    Enqueue(FormatConnectionLogLine(
        "-", std::to_string(dropped_) + " log lines dropped: standard output was not read",
        std::time(nullptr)));
    dropped_ = 0;
  }

  void Enqueue(std::string line) {
    line += '\n';
    bytes_ += line.size();
    lines_.push_back(std::move(line));
  }

  // The one thread that writes standard output while the service runs; it never ends, so a
  // write that blocks for good cannot hold up the exit.
  void Write() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      added_.wait(lock, [this] { return !lines_.empty(); });
      const std::string line = std::move(lines_.front());
      lines_.pop_front();
      writing_ = true;
      lock.unlock();
      WriteAll(line);
      lock.lock();
      writing_ = false;
      bytes_ -= line.size();
      if (lines_.empty()) written_.notify_all();
    }
  }

  static void WriteAll(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t count = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return;  // output closed: the line is lost, the service goes on
      done += static_cast<size_t>(count);
    }
  }

  std::mutex mutex_;
  std::condition_variable added_;
  std::condition_variable written_;
  std::deque<std::string> lines_;
  size_t bytes_ = 0;
  size_t dropped_ = 0;
  bool writing_ = false;
};

// Made on first use and never destroyed: its thread may still be blocked in a write at exit.
LogQueue& TheLogQueue() {
  static LogQueue* queue = new LogQueue;
  return *queue;
}

}  // namespace

std::string EscapeForLog(std::string_view text) {
  return EscapeBytes(text, "\\x", "0123456789abcdef", [](unsigned char byte) {
    return byte < 0x20 || byte >= 0x7F || byte == '\\';
  });
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

void WriteLogLine(std::string line) {
  TheLogQueue().Push(std::move(line));
}

bool FlushLog(std::chrono::milliseconds timeout) {
  return TheLogQueue().Flush(timeout);
}

}  // namespace quorel::service
