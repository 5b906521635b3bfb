#include "VantrelQuorelSpeech.h"
#include "library_loader.h"
#include "recorder/recorder_exports.h"
#include "support/portable/file_bytes.h"
#include "support/portable/wave_checks.h"

namespace quorel::test {

struct RecorderExports::Library : LoadedExports {};

RecorderExports::RecorderExports() : library_(new Library) {}
RecorderExports::~RecorderExports() {
  delete library_;
}

bool RecorderExports::Loaded() const {
  return library_->start != nullptr && library_->stop != nullptr;
}

int32_t RecorderExports::Start(const PathText& path) const {
  return library_->start(path.c_str());
}

int32_t RecorderExports::Stop() const {
  return library_->stop();
}

const int kLongTakeMilliseconds = 6500;
const int kShortTakeMilliseconds = 4500;

// Wine's input hands back its first buffer a second or two late, so only a floor; the ramp
// the script plays runs on from wherever the take began.
std::string TakeFaults(const PathText& path, const Take& take) {
  if (take.startCode != QUOREL_SUCCESS) return "Start returned " + std::to_string(take.startCode);
  const std::string file = ReadFile(path);
  std::string faults = WaveFileFaults(file, take.count) + RampFaults(file, -1);
  if (take.count < (take.runSeconds - 3) * 32000) {
    faults += std::to_string(take.count) + " bytes after " + std::to_string(take.runSeconds) +
              " s of recording; ";
  }
  return faults;
}

// The Wine runner's NoAudioDevice cases run with no sound server.
NoInputDevice::NoInputDevice(const ScratchFolder&) : state_(nullptr) {}
NoInputDevice::~NoInputDevice() = default;

std::string NoInputDevice::Leftovers() const {
  return "";
}

}  // namespace quorel::test
