#include "library_loader.h"
#include "recorder/recorder_exports.h"
#include "wide_files.h"

namespace quorel::test {

struct RecorderExports::Library {
  LoadedLibrary loaded;
  Exports exports{loaded};
};

RecorderExports::RecorderExports() : library_(new Library) {}
RecorderExports::~RecorderExports() {
  delete library_;
}

bool RecorderExports::Loaded() const {
  return library_->exports.start != nullptr && library_->exports.stop != nullptr;
}

int32_t RecorderExports::Start(const PathText& path) const {
  return library_->exports.start(path.c_str());
}

int32_t RecorderExports::Stop() const {
  return library_->exports.stop();
}

const int kFirstBufferMilliseconds = 4000;

void SleepMilliseconds(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

std::string ReadRecording(const PathText& path) {
  return ReadWholeFile(path);
}

}  // namespace quorel::test
