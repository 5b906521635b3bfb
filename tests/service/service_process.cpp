#include "service/service_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <thread>
#include <utility>

namespace quorel::test {

namespace {

constexpr char kAuthorityMarker[] = "local authority: ";
constexpr char kListeningLine[] = "quorel-service: listening on https://";

std::vector<std::string> CommandLine(std::vector<std::string> arguments,
                                     const std::string& stateFolder) {
  arguments.insert(arguments.begin(), QUOREL_SERVICE_PATH);
  arguments.insert(arguments.end(), {"--state-dir", stateFolder});
  bool portGiven = false;
  for (const std::string& argument : arguments) {
    portGiven |= argument == "--port" || argument == "--listen";
  }
  if (!portGiven) arguments.insert(arguments.end(), {"--port", "0"});
  return arguments;
}

// Reads lines from fd into text until one starts with prefix; false at the end of the input.
bool ReadUntilLine(int fd, const std::string& prefix, std::string* text) {
  for (char byte; read(fd, &byte, 1) == 1;) {
    *text += byte;
    const size_t start = text->rfind('\n', text->size() - 2) + 1;  // npos + 1 is 0
    if (byte == '\n' && text->compare(start, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

}  // namespace

ServiceProcess::ServiceProcess(std::vector<std::string> arguments, const std::string& stateFolder,
                               Log log) {
  int pipeEnds[2] = {-1, -1};
  if (log == Log::kUnreadPipe && pipe2(pipeEnds, O_CLOEXEC) == 0) {
    fcntl(pipeEnds[0], F_SETPIPE_SZ, 4096);  // full after a few dozen lines
    logPipe_ = pipeEnds[0];
  }
  child_ = std::make_unique<ChildProcess>(
      CommandLine(std::move(arguments), stateFolder.empty() ? folder_.Path("state") : stateFolder),
      false, pipeEnds[1]);
  bool listening = false;
  if (logPipe_ >= 0) {
    close(pipeEnds[1]);
    listening = ReadUntilLine(logPipe_, kListeningLine, &piped_);
  } else {
    listening = child_->AwaitOutputLine(kListeningLine);
  }
  std::istringstream lines(piped_ + child_->Written().out);
  for (std::string line; std::getline(lines, line);) {
    if (const size_t at = line.find(kAuthorityMarker); at != std::string::npos) {
      authorityFile_ = line.substr(at + sizeof kAuthorityMarker - 1);
    }
    // The first address's port: "...https://ADDRESS:PORT/ (...)".
    if (listening && line.rfind(kListeningLine, 0) == 0) {
      port_ = std::atoi(line.c_str() + line.rfind(':', line.find("/ (")) + 1);
      break;
    }
  }
}

ServiceProcess::~ServiceProcess() {
  if (!ended_) Stop();
  if (logPipe_ >= 0) close(logPipe_);
}

int ServiceProcess::Stop(int signal, std::chrono::milliseconds limit) {
  if (ended_) return -1;
  child_->Signal(signal);
  for (const auto giveUp = std::chrono::steady_clock::now() + limit; child_->Running();) {
    if (std::chrono::steady_clock::now() >= giveUp) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ended_ = child_->Finish();
  return ended_->exitCode;
}

std::string ServiceProcess::Output() const {
  const ChildResult printed = ended_ ? *ended_ : child_->Written();
  return piped_ + printed.out + printed.err;
}

}  // namespace quorel::test
