#include "tool_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace quorel::tool {

ScratchFile::ScratchFile(const char* suffix) {
  const char* base = getenv("TMPDIR");
  path_ = std::string(base != nullptr && base[0] != 0 ? base : "/tmp") + "/quorel-XXXXXX" + suffix;
  const int fd = mkstemps(path_.data(), static_cast<int>(std::string(suffix).size()));
  if (fd < 0) {
    path_.clear();
  } else {
    close(fd);
  }
}

ScratchFile::~ScratchFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

bool ReadWhole(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

bool CopyStream(FILE* from, FILE* to) {
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
    if (std::fwrite(buffer, 1, count, to) != count) return false;
  }
  return !std::ferror(from) && std::fflush(to) == 0;
}

std::string WhyNotWritable(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  bool made = false;
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    made = fd >= 0;
  }
  if (fd < 0) return std::strerror(errno);
  close(fd);
  if (made) unlink(path.c_str());
  return "";
}

}  // namespace quorel::tool
