#include "tool_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace quorel::tool {

namespace {

std::string DescriptorPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

ScratchFile::ScratchFile(const char* suffix) {
  const char* base = getenv("TMPDIR");
  std::string name =
      std::string(base != nullptr && base[0] != 0 ? base : "/tmp") + "/quorel-XXXXXX" + suffix;
  fd_ = mkostemps(name.data(), static_cast<int>(std::string(suffix).size()), O_CLOEXEC);
  if (fd_ < 0) return;
  unlink(name.c_str());
  path_ = DescriptorPath(fd_);
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) {  // no /proc: the file cannot be reached without a name
    close(fd_);
    fd_ = -1;
    path_.clear();
  }
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) close(fd_);
}

std::string RegularFileBehind(int fd) {
  struct stat info {};
  const bool fromItsStart =
      fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && lseek(fd, 0, SEEK_CUR) == 0;
  return fromItsStart ? DescriptorPath(fd) : "";
}

bool ReadWhole(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

bool WriteWhole(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
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

std::string WhyNotReadable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat info {};
  const int error = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
  close(fd);
  return error == 0 ? "" : std::strerror(error);
}

}  // namespace quorel::tool
