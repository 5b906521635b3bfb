#include <chrono>
#include <thread>

#include "recorder/recorder_exports.h"
#include "recorder/sound_recorder.h"
#include "support/portable/file_bytes.h"

namespace quorel::test {

struct RecorderExports::Library {};

RecorderExports::RecorderExports() : library_(nullptr) {}
RecorderExports::~RecorderExports() = default;

bool RecorderExports::Loaded() const {
  return true;
}

int32_t RecorderExports::Start(const PathText& path) const {
  const std::u16string text(path.begin(), path.end());
  return SoundRecorderStart(text.c_str());
}

int32_t RecorderExports::Stop() const {
  return SoundRecorderStop();
}

const int kFirstBufferMilliseconds = 1300;

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string ReadRecording(const PathText& path) {
  return FileExists(path) ? ReadFile(path) : "<missing>";
}

}  // namespace quorel::test
