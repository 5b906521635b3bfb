#include "support/common/test_process.h"

#include <dirent.h>
#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace quorel::test {

namespace {

size_t EntryCount(const char* folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder)) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

}  // namespace

size_t OpenDescriptorCount() {
  return EntryCount("/proc/self/fd");
}

// A thread that was joined can still be listed for a few milliseconds: under qemu-user the
// emulator ends its own host thread after the guest's pthread_join has returned (in most joins).
// So the count is the one that has held still for kStillFor.
size_t ThreadCount() {
  using namespace std::chrono;
  constexpr auto kStillFor = milliseconds(100);
  constexpr auto kAtMost = seconds(5);
  size_t count = EntryCount("/proc/self/task");
  const auto start = steady_clock::now();
  auto changed = start;
  for (auto now = start; now - changed < kStillFor && now - start < kAtMost;
       now = steady_clock::now()) {
    std::this_thread::sleep_for(milliseconds(5));
    const size_t latest = EntryCount("/proc/self/task");
    if (latest != count) {
      count = latest;
      changed = steady_clock::now();
    }
  }
  return count;
}

void ExportEnvironmentLines(const std::string& lines) {
  std::istringstream stream(lines);
  for (std::string line; std::getline(stream, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) setenv(line.substr(0, equals).c_str(), &line[equals + 1], 1);
  }
}

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace quorel::test
