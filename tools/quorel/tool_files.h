// Files of the tool's own: temporary files, whole-file reads, stream copies, and a check that a
// file can be written before work is spent that would end in it.
#pragma once

#include <cstdio>
#include <string>

namespace quorel::tool {

// A temporary file under $TMPDIR (or /tmp), removed again when this object ends; an empty path
// when it could not be made.
class ScratchFile {
 public:
  explicit ScratchFile(const char* suffix);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool ReadWhole(const std::string& path, std::string* text);

// Copies until from ends; false when reading or writing failed.
bool CopyStream(FILE* from, FILE* to);

// Empty when path can be written (an existing file is left untouched), else why not.
std::string WhyNotWritable(const std::string& path);

}  // namespace quorel::tool
