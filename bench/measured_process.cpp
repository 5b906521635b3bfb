#include "measured_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace quorel::bench {

bool RunMeasured(const std::vector<std::string>& command, ProcessCost& cost, std::string* output) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> arguments;
    for (const std::string& word : command) arguments.push_back(const_cast<char*>(word.c_str()));
    arguments.push_back(nullptr);
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char chunk[256];
  ssize_t got;
  while ((got = read(pipeFds[0], chunk, sizeof chunk)) > 0) output->append(chunk, got);
  close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return false;
  cost.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
  cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  cost.peakMegabytes = usage.ru_maxrss / 1024.0;
  cost.wakeUps = static_cast<double>(usage.ru_nvcsw);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace quorel::bench
