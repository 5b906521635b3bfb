#include "support/common/test_process.h"

#include <dirent.h>

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

size_t ThreadCount() {
  return EntryCount("/proc/self/task");
}

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace quorel::test
