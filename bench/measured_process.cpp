#include "measured_process.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "support/common/child_process.h"

namespace quorel::bench {

bool RunMeasured(const std::vector<std::string>& command, ProcessCost& cost, std::string* output) {
  const auto started = std::chrono::steady_clock::now();
  test::ChildProcess child(command);
  rusage usage{};
  const test::ChildResult result = child.Finish(&usage);
  cost.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // The child's complaints, which it would otherwise have printed here itself.
  std::fputs(result.err.c_str(), stderr);
  output->append(result.out);
  const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
  cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  cost.peakMegabytes = usage.ru_maxrss / 1024.0;
  cost.wakeUps = static_cast<double>(usage.ru_nvcsw);
  return result.exitCode == 0;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace quorel::bench
