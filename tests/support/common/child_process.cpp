#include "support/common/child_process.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "support/portable/file_bytes.h"

namespace quorel::test {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, bool errorOnTerminal,
                           int output) {
  outPath_ = folder_.Path("out");
  errPath_ = folder_.Path("err");
  int inputPipe[2];
  if (pipe2(inputPipe, O_CLOEXEC) != 0) return;
  int terminal = -1, terminalSide = -1;
  if (errorOnTerminal && openpty(&terminal, &terminalSide, nullptr, nullptr, nullptr) != 0) {
    close(inputPipe[0]);
    close(inputPipe[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    const int out =
        output >= 0 ? output : open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err =
        errorOnTerminal ? terminalSide : open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(inputPipe[0], STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(inputPipe[0]);
  input_ = inputPipe[1];
  if (errorOnTerminal) {
    close(terminalSide);
    // Read as it comes, so the child never blocks on a full terminal; ends when the child has
    // closed its side (EIO).
    terminalReader_ = std::thread([terminal, path = errPath_] {
      std::ofstream copy(path, std::ios::binary);
      char buffer[4096];
      ssize_t count;
      while ((count = read(terminal, buffer, sizeof buffer)) > 0) copy.write(buffer, count);
      close(terminal);
    });
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Finish();
  }
  CloseInput();
}

void ChildProcess::WriteInput(const std::string& text) {
  if (input_ >= 0) {
    [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
  }
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

bool ChildProcess::Running() const {
  // WNOWAIT leaves an ended child for Finish to collect.
  siginfo_t ended = {};
  return pid_ > 0 && waitid(P_PID, pid_, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         ended.si_pid != pid_;
}

bool ChildProcess::AwaitOutputLine(const std::string& prefix) {
  for (;;) {
    // Asked before reading, so that a line written just before the end is still seen.
    const bool running = Running();
    const std::string out = ReadFile(outPath_);
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1) {
      if (out.compare(start, prefix.size(), prefix) == 0) return true;
    }
    if (!running) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

ChildResult ChildProcess::Written() const {
  ChildResult result;
  result.out = ReadFile(outPath_);
  result.err = ReadFile(errPath_);
  return result;
}

ChildResult ChildProcess::Finish(rusage* usage) {
  CloseInput();
  if (pid_ <= 0) return ChildResult();
  int status = 0;
  const bool waited = wait4(pid_, &status, 0, usage) == pid_;
  pid_ = -1;
  if (terminalReader_.joinable()) terminalReader_.join();
  ChildResult result = Written();
  if (waited && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

ChildResult RunChild(const std::vector<std::string>& arguments) {
  ChildProcess child(arguments);
  return child.Finish();
}

long StatusKilobytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

}  // namespace quorel::test
