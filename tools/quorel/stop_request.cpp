#include "stop_request.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace quorel::tool {

namespace {

int signalPipe[2] = {-1, -1};
struct sigaction previousInterrupt;
struct sigaction previousTerminate;

void NoteSignal(int) {
  const int saved = errno;
  const char byte = 's';
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

StopRequest::StopRequest() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) signalPipe[0] = signalPipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousInterrupt);
  sigaction(SIGTERM, &action, &previousTerminate);
}

StopRequest::~StopRequest() {
  sigaction(SIGINT, &previousInterrupt, nullptr);
  sigaction(SIGTERM, &previousTerminate, nullptr);
  for (int& fd : signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

StopReason StopRequest::Wait(int timeoutMs) {
  pollfd watched[2] = {{signalPipe[0], POLLIN, 0}, {watchInput_ ? STDIN_FILENO : -1, POLLIN, 0}};
  if (poll(watched, 2, timeoutMs) <= 0) return StopReason::kNone;
  if (watched[0].revents & POLLIN) return StopReason::kSignal;
  if (watched[1].revents & (POLLIN | POLLHUP)) {
    char buffer[256];
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
      watchInput_ = false;  // input ended (or was never there): only time and signals remain
      return StopReason::kNone;
    }
    for (ssize_t i = 0; i < count; ++i) {
      if (buffer[i] == '\n') return StopReason::kEnter;
    }
  }
  if (watched[1].revents & (POLLERR | POLLNVAL)) watchInput_ = false;
  return StopReason::kNone;
}

}  // namespace quorel::tool
