#include "service/service_process.h"

#include <ftw.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace quorel::test {

namespace {

constexpr char kAuthorityMarker[] = "local authority: ";
constexpr char kListeningMarker[] = "listening on https://127.0.0.1:";

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  return remove(path);
}

// The folders made for one test process, removed with everything in them when it ends.
struct TemporaryFolders {
  std::vector<std::string> paths;
  ~TemporaryFolders() {
    for (const std::string& path : paths) nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
};

TemporaryFolders& MadeFolders() {
  static TemporaryFolders folders;
  return folders;
}

// The next line from fd, or false at the end of its output.
bool ReadLine(int fd, std::string* line) {
  line->clear();
  char c;
  while (read(fd, &c, 1) == 1) {
    if (c == '\n') return true;
    *line += c;
  }
  return !line->empty();
}

}  // namespace

std::string MakeTemporaryFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] != 0 ? base : "/tmp") + "/quorel-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return std::string();
  MadeFolders().paths.push_back(pattern);
  return pattern;
}

ServiceProcess::ServiceProcess(std::vector<std::string> arguments, const std::string& stateFolder) {
  arguments.insert(arguments.begin(), QUOREL_SERVICE_PATH);
  arguments.push_back("--state-dir");
  arguments.push_back(stateFolder.empty() ? MakeTemporaryFolder() + "/state" : stateFolder);
  bool portGiven = false;
  for (const std::string& argument : arguments) portGiven |= argument == "--port";
  if (!portGiven) arguments.insert(arguments.end(), {"--port", "0"});

  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    dup2(pipeFds[1], STDERR_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  output_ = pipeFds[0];
  if (pid_ < 0) return;
  std::string line;
  while (ReadLine(output_, &line)) {
    printed_ += line + "\n";
    if (const size_t at = line.find(kAuthorityMarker); at != std::string::npos) {
      authorityFile_ = line.substr(at + sizeof kAuthorityMarker - 1);
    }
    if (const size_t at = line.find(kListeningMarker); at != std::string::npos) {
      port_ = std::atoi(line.c_str() + at + sizeof kListeningMarker - 1);
      break;
    }
  }
  reader_ = std::thread([this] {
    char buffer[4096];
    ssize_t count;
    while ((count = read(output_, buffer, sizeof buffer)) > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      printed_.append(buffer, count);
    }
  });
}

ServiceProcess::~ServiceProcess() {
  if (Alive()) Stop();
  if (reader_.joinable()) reader_.join();
  if (output_ >= 0) close(output_);
}

bool ServiceProcess::Alive() const {
  return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

int ServiceProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int status = 0;
  const pid_t waited = waitpid(pid_, &status, 0);
  pid_ = -1;
  return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ServiceProcess::Output() {
  if (pid_ <= 0 && reader_.joinable()) reader_.join();  // exited: the pipe ends
  std::lock_guard<std::mutex> lock(mutex_);
  return printed_;
}

}  // namespace quorel::test
