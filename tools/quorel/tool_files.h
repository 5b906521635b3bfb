// Files of the tool's own: temporary files, whole-file reads, stream copies, and checks that a
// file can be read or written before work is spent that would end in it.
#pragma once

#include <cstdio>
#include <string>

namespace quorel::tool {

// A temporary file under $TMPDIR (or /tmp) whose name is removed as soon as it is made: the file
// lives on, reached through its descriptor's /proc/self/fd path, until this object ends. So no
// ending of the process, a signal's included, leaves it behind. An empty path when it could not
// be made.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// A path to the file open as fd when it is a regular file read from its start, so that the
// library can open it anew; empty otherwise.
std::string RegularFileBehind(int fd);

bool ReadWhole(const std::string& path, std::string* text);

// Replaces the file at path with text; false (errno saying why) when that failed.
bool WriteWhole(const std::string& path, const std::string& text);

// Copies until from ends; false when reading or writing failed.
bool CopyStream(FILE* from, FILE* to);

// Empty when path can be written (an existing file is left untouched), else why not.
std::string WhyNotWritable(const std::string& path);

// Empty when path is a file that can be read, else why not (the system's words).
std::string WhyNotReadable(const std::string& path);

}  // namespace quorel::tool
