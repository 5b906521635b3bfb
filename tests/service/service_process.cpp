#include "service/service_process.h"

#include <cstdlib>
#include <sstream>
#include <utility>

namespace quorel::test {

namespace {

constexpr char kAuthorityMarker[] = "local authority: ";
constexpr char kListeningLine[] = "quorel-service: listening on https://127.0.0.1:";

std::vector<std::string> CommandLine(std::vector<std::string> arguments,
                                     const std::string& stateFolder) {
  arguments.insert(arguments.begin(), QUOREL_SERVICE_PATH);
  arguments.insert(arguments.end(), {"--state-dir", stateFolder});
  bool portGiven = false;
  for (const std::string& argument : arguments) portGiven |= argument == "--port";
  if (!portGiven) arguments.insert(arguments.end(), {"--port", "0"});
  return arguments;
}

}  // namespace

ServiceProcess::ServiceProcess(std::vector<std::string> arguments, const std::string& stateFolder)
    : child_(CommandLine(std::move(arguments),
                         stateFolder.empty() ? folder_.Path("state") : stateFolder)) {
  const bool listening = child_.AwaitOutputLine(kListeningLine);
  std::istringstream lines(child_.Written().out);
  for (std::string line; std::getline(lines, line);) {
    if (const size_t at = line.find(kAuthorityMarker); at != std::string::npos) {
      authorityFile_ = line.substr(at + sizeof kAuthorityMarker - 1);
    }
    if (listening && line.rfind(kListeningLine, 0) == 0) {
      port_ = std::atoi(line.c_str() + sizeof kListeningLine - 1);
      break;
    }
  }
}

ServiceProcess::~ServiceProcess() {
  if (!ended_) Stop();
}

int ServiceProcess::Stop(int signal) {
  if (ended_) return -1;
  child_.Signal(signal);
  ended_ = child_.Finish();
  return ended_->exitCode;
}

std::string ServiceProcess::Output() const {
  const ChildResult printed = ended_ ? *ended_ : child_.Written();
  return printed.out + printed.err;
}

}  // namespace quorel::test
