// The recorder's Start and Stop as a shared case calls them (recorder_cases.cpp): on Linux the
// library's recorder itself, under Wine the DLL's exports, loaded for the case.
#pragma once

#include <cstdint>
#include <string>

#include "support/portable/scratch_folder.h"

namespace quorel::test {

using PathText = ScratchFolder::Text;

// An ASCII name as the system's path text.
inline PathText Name(const char* ascii) {
  const std::string text(ascii);
  return PathText(text.begin(), text.end());
}

class RecorderExports {
 public:
  RecorderExports();
  ~RecorderExports();
  RecorderExports(const RecorderExports&) = delete;
  RecorderExports& operator=(const RecorderExports&) = delete;

  bool Loaded() const;
  int32_t Start(const PathText& path) const;
  int32_t Stop() const;

 private:
  struct Library;
  Library* library_;
};

// Long enough for the first full buffer to come back (Wine's input hands it back a second or
// two late).
extern const int kFirstBufferMilliseconds;
void SleepMilliseconds(int milliseconds);
// The whole content of a file; "<missing>" when it cannot be opened.
std::string ReadRecording(const PathText& path);

}  // namespace quorel::test
