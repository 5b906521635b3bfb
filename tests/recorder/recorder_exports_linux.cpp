#include <fstream>
#include <thread>

#include "VantrelQuorelSpeech.h"
#include "recorder/recorder_exports.h"
#include "recorder/sound_recorder.h"
#include "support/audio/private_pulse_audio.h"
#include "support/audio/wave_file_checks.h"
#include "support/common/test_process.h"
#include "support/portable/wave_checks.h"

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

const int kLongTakeMilliseconds = 2300;
const int kShortTakeMilliseconds = 400;

// Audio reaches the recorder in ALSA periods of 50 ms, which the sound server sends whole, so
// a stop misses up to about 60 ms of what was captured; the rest allows for the start-up of
// the stream and a loaded machine. A recording cannot hold more than the time from Start's
// call to Stop's return, plus one block of the sound server.
constexpr double kLateSeconds = 0.2;
constexpr double kEarlySeconds = 0.05;

std::string TakeFaults(const PathText& path, const Take& take) {
  if (take.startCode != QUOREL_SUCCESS) return "Start returned " + std::to_string(take.startCode);
  const std::string file = ReadRecording(path);
  std::string faults = WaveFileFaults(file, take.count) + RampFaults(file);
  const double low = (take.runSeconds - kLateSeconds) * 32000;
  const double high = (take.totalSeconds + kEarlySeconds) * 32000;
  if (take.count < low || take.count > high) {
    faults += std::to_string(take.count) + " bytes after " + std::to_string(take.runSeconds) +
              " s of recording, expected " + std::to_string(low) + " to " + std::to_string(high) +
              "; ";
  }
  if (IsOpenInThisProcess(path)) faults += "the file is still open; ";
  return faults;
}

// Writes to path an ALSA configuration whose default device is a card that does not exist.
const std::string& NoDeviceConfig(const std::string& path) {
  std::ofstream(path) << "pcm.!default { type hw card 31 }\n";
  return path;
}

// ThreadSanitizer starts a thread of its own when a program first starts one (the input does,
// to open the device): one started here first puts it in the baseline.
bool BackgroundThreadsStarted() {
  std::thread([] {}).join();
  return true;
}

struct NoInputDevice::State {
  explicit State(const std::string& config) : noDevice(NoDeviceConfig(config)) {}
  bool threadsStarted = BackgroundThreadsStarted();
  AlsaConfigOverride noDevice;
  size_t threads = ThreadCount();
  size_t descriptors = OpenDescriptorCount();
};

NoInputDevice::NoInputDevice(const ScratchFolder& folder)
    : state_(new State(folder.Path("no-device.conf"))) {}
NoInputDevice::~NoInputDevice() {
  delete state_;
}

std::string NoInputDevice::Leftovers() const {
  const size_t threads = ThreadCount(), descriptors = OpenDescriptorCount();
  if (threads == state_->threads && descriptors == state_->descriptors) return "";
  return std::to_string(threads) + " threads and " + std::to_string(descriptors) +
         " descriptors, from " + std::to_string(state_->threads) + " and " +
         std::to_string(state_->descriptors);
}

}  // namespace quorel::test
