#include "recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "VantrelQuorelSpeech.h"
#include "level_meter.h"
#include "live_level.h"
#include "stop_request.h"

namespace quorel::tool {

namespace {

constexpr int kRefreshMs = 50;
constexpr int kBytesPerSample = 2;
constexpr int kSamplesPerSecond = 16000;
constexpr off_t kHeaderBytes = 44;
// Audio reaches the file later than the clock says: opening the input and the sound server's
// own buffering hold back up to a few tenths of a second. A timed recording runs this much
// longer, then is cut to its exact length.
constexpr double kCaptureLagSeconds = 0.5;

const QuorelChar* LibraryText(const std::u16string& text) {
  return reinterpret_cast<const QuorelChar*>(text.c_str());
}

long long FileBytes(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// After these codes the library made the file but capture never ran.
bool MadeAnEmptyFile(int32_t startCode) {
  return startCode == QUOREL_START_INPUT_OPEN_FAILED ||
         startCode == QUOREL_START_BUFFER_QUEUE_FAILED || startCode == QUOREL_START_CAPTURE_FAILED;
}

void PutNumber32(uint32_t value, unsigned char* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Cuts a finished WAV file to dataBytes of audio and makes its header say so; false when the
// file could not be changed.
bool CutWave(const std::string& path, int32_t dataBytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char chunkSize[4], dataLength[4];
  PutNumber32(static_cast<uint32_t>(dataBytes + kHeaderBytes - 8), chunkSize);
  PutNumber32(static_cast<uint32_t>(dataBytes), dataLength);
  const bool cut = ftruncate(fd, kHeaderBytes + dataBytes) == 0 &&
                   pwrite(fd, chunkSize, 4, 4) == 4 && pwrite(fd, dataLength, 4, 40) == 4;
  return close(fd) == 0 && cut;
}

}  // namespace

RecordingResult Record(const std::u16string& libraryPath, const std::string& filePath,
                       const std::string& shownName, double seconds, bool showMeter) {
  RecordingResult result;
  StopRequest stop;  // before Start, so that an early signal already ends the recording cleanly
  const auto started = std::chrono::steady_clock::now();
  result.startCode = QuorelSoundRecorderStart(LibraryText(libraryPath));
  // After these codes no recording of this call's exists, so there is nothing to stop.
  if (result.startCode == QUOREL_START_ALREADY_RECORDING ||
      result.startCode == QUOREL_START_FILE_CREATE_FAILED) {
    return result;
  }
  bool timeRanOut = false;
  if (result.startCode == QUOREL_SUCCESS) {
    // Opened after the library's stream, so that an input that cannot be shared stays its.
    std::unique_ptr<LiveLevel> live;
    if (showMeter) {
      live = std::make_unique<LiveLevel>();
      std::fprintf(stderr, "Recording to %s; Enter or Ctrl-C stops.\n", shownName.c_str());
    }
    for (;;) {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      timeRanOut = seconds > 0 && elapsed >= seconds + kCaptureLagSeconds;
      if (timeRanOut) break;
      if (showMeter) {
        const double peak = live->Available() ? live->PeakDbfs() : NewestPeakDbfs(filePath);
        const double shown = seconds > 0 ? std::min(elapsed, seconds) : elapsed;
        std::fprintf(stderr, "\r%s", MeterLine(shown, peak, FileBytes(filePath)).c_str());
      }
      int waitMs = kRefreshMs;
      if (seconds > 0) {
        waitMs =
            std::min(waitMs, static_cast<int>((seconds + kCaptureLagSeconds - elapsed) * 1000) + 1);
      }
      if (stop.Wait(waitMs) != StopReason::kNone) break;
    }
    if (showMeter) std::fputc('\n', stderr);
  }
  // Stop follows every Start that made a file, failed or not: it completes the file.
  result.dataBytes = QuorelSoundRecorderStop();
  if (MadeAnEmptyFile(result.startCode)) unlink(filePath.c_str());
  const long long exact = std::llround(seconds * kSamplesPerSecond) * kBytesPerSample;
  if (timeRanOut && result.dataBytes > exact && CutWave(filePath, static_cast<int32_t>(exact))) {
    result.dataBytes = static_cast<int32_t>(exact);
  }
  return result;
}

}  // namespace quorel::tool
