// A command run as a process of its own, with what the kernel counted for it: each peer in a
// comparison is measured the same way.
#pragma once

#include <string>
#include <vector>

namespace quorel::bench {

struct ProcessCost {
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user and system
  double peakMegabytes = 0;
  double wakeUps = 0;  // voluntary context switches, all threads: each is a sleep ended
};

// Runs command (a program path or name and its arguments) with its standard output in
// *output; false when it could not run or did not exit with 0.
bool RunMeasured(const std::vector<std::string>& command, ProcessCost& cost, std::string* output);

double Median(std::vector<double> values);

}  // namespace quorel::bench
