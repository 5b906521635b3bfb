// The recorder's Start and Stop as a shared case calls them (recorder_cases.cpp): on Linux the
// library's recorder itself, under Wine the DLL's exports, loaded for the case. Each system
// adds what it knows of its input: how late its buffers come, how a take's bytes are checked,
// how a case goes without a device.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "support/portable/file_bytes.h"
#include "support/portable/scratch_folder.h"

namespace quorel::test {

using PathText = ScratchFolder::Text;

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

// A case's recorder and a scratch folder for its files.
struct RecorderCase {
  RecorderExports recorder;
  ScratchFolder folder;

  // The path of an ASCII name in the folder.
  PathText Path(const char* name) const {
    const std::string text(name);
    return folder.Path(PathText(text.begin(), text.end()));
  }
};

// A take of more than two full buffers, and a short one (on Linux shorter than one buffer).
extern const int kLongTakeMilliseconds;
extern const int kShortTakeMilliseconds;
// The whole content of a file; "<missing>" when there is none.
inline std::string ReadRecording(const PathText& path) {
  return FileExists(path) ? ReadFile(path) : "<missing>";
}

// One recording: Start's code, the count Stop returned, and how long it ran.
struct Take {
  int32_t startCode;
  int32_t count;
  double runSeconds;    // from Start's return to Stop's call
  double totalSeconds;  // from Start's call to Stop's return
};

// Start, meanwhile (if given), a wait of milliseconds, Stop.
inline Take Record(const RecorderExports& recorder, const PathText& path, int milliseconds,
                   const std::function<void()>& meanwhile = nullptr) {
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::duration span) {
    return std::chrono::duration<double>(span).count();
  };
  const auto beforeStart = Clock::now();
  const int32_t code = recorder.Start(path);
  const auto started = Clock::now();
  if (meanwhile) meanwhile();
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  const auto stopping = Clock::now();
  const int32_t count = recorder.Stop();
  return {code, count, seconds(stopping - started), seconds(Clock::now() - beforeStart)};
}

// What is wrong with the take recorded into path, empty when nothing: a failed Start, the file
// against the count, the count against the time, the fed ramp, a file left open.
std::string TakeFaults(const PathText& path, const Take& take);

// For its life the default input has no device (the Wine runner runs the NoAudioDevice cases
// with no sound server, so there it changes nothing).
class NoInputDevice {
 public:
  explicit NoInputDevice(const ScratchFolder& folder);
  ~NoInputDevice();
  NoInputDevice(const NoInputDevice&) = delete;
  NoInputDevice& operator=(const NoInputDevice&) = delete;

  // The threads and descriptors that have been left behind since it began, where the system's
  // support counts them; empty when none.
  std::string Leftovers() const;

 private:
  struct State;
  State* state_;
};

}  // namespace quorel::test
