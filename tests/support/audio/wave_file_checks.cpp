#include "support/audio/wave_file_checks.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>

#include "support/portable/wave_checks.h"

namespace quorel::test {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

::testing::AssertionResult IsCompleteWave(const std::vector<uint8_t>& file, uint32_t dataLength) {
  const std::string faults = WaveFileFaults(file, dataLength);
  if (faults.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << faults;
}

::testing::AssertionResult HoldsCounterSignal(const std::vector<uint8_t>& file,
                                              int64_t firstSample) {
  const std::string faults = RampFaults(file, firstSample);
  if (faults.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << faults;
}

bool IsOpenInThisProcess(const std::string& path) {
  char wanted[PATH_MAX];
  if (realpath(path.c_str(), wanted) == nullptr) return false;
  bool found = false;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      char target[PATH_MAX];
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
      if (length > 0 && std::strncmp(target, wanted, length) == 0 && wanted[length] == '\0') {
        found = true;
      }
    }
    closedir(dir);
  }
  return found;
}

}  // namespace quorel::test
