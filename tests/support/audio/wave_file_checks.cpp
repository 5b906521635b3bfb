#include "support/audio/wave_file_checks.h"

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quorel::test {

namespace {

uint32_t Number(const std::vector<uint8_t>& bytes, size_t offset, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[offset + i];
  return value;
}

std::string Tag(const std::vector<uint8_t>& bytes, size_t offset) {
  return std::string(bytes.begin() + offset, bytes.begin() + offset + 4);
}

}  // namespace

uint32_t Number32(const std::vector<uint8_t>& bytes, size_t offset) {
  return Number(bytes, offset, 4);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

::testing::AssertionResult IsCompleteWave(const std::vector<uint8_t>& file, uint32_t dataLength) {
  if (file.size() < 44) return ::testing::AssertionFailure() << "only " << file.size() << " bytes";
  struct Field {
    const char* name;
    uint32_t actual;
    uint32_t expected;
  };
  const Field fields[] = {
      {"chunk size", Number(file, 4, 4), dataLength + 36},
      {"format chunk size", Number(file, 16, 4), 16},
      {"format tag", Number(file, 20, 2), 1},
      {"channels", Number(file, 22, 2), 1},
      {"samples per second", Number(file, 24, 4), 16000},
      {"average bytes per second", Number(file, 28, 4), 32000},
      {"block alignment", Number(file, 32, 2), 2},
      {"bits per sample", Number(file, 34, 2), 16},
      {"data length", Number(file, 40, 4), dataLength},
      {"file size", static_cast<uint32_t>(file.size()), 44 + dataLength},
  };
  std::string faults;
  if (Tag(file, 0) != "RIFF" || Tag(file, 8) != "WAVE" || Tag(file, 12) != "fmt " ||
      Tag(file, 36) != "data") {
    faults += "chunk tags wrong; ";
  }
  for (const Field& field : fields) {
    if (field.actual == field.expected) continue;
    faults += std::string(field.name) + " " + std::to_string(field.actual) + " instead of " +
              std::to_string(field.expected) + "; ";
  }
  if (faults.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << faults;
}

::testing::AssertionResult HoldsCounterSignal(const std::vector<uint8_t>& file,
                                              uint32_t firstSample) {
  if (file.size() < 44 || file.size() % 2 != 0) {
    return ::testing::AssertionFailure() << "no whole samples after a header: " << file.size();
  }
  for (size_t offset = 44, sample = firstSample; offset < file.size(); offset += 2, ++sample) {
    const uint32_t value = Number(file, offset, 2);
    if (value != sample % 65536) {
      return ::testing::AssertionFailure()
             << "sample " << (offset - 44) / 2 << " is " << value << ", not " << sample % 65536;
    }
  }
  return ::testing::AssertionSuccess();
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

size_t OpenDescriptorCount() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

ScratchFolder::ScratchFolder() {
  char pattern[] = "/tmp/quorel-test-XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::u16string Utf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace quorel::test
