#include "recording.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "VantrelQuorelSpeech.h"
#include "level_meter.h"
#include "live_level.h"
#include "stop_request.h"

namespace quorel::tool {

namespace {

constexpr int kRefreshMs = 50;

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

}  // namespace

RecordingResult Record(const std::u16string& libraryPath, const std::string& filePath,
                       const std::string& shownName, double seconds, bool showMeter) {
  RecordingResult result;
  StopRequest stop;  // before Start, so that an early signal already ends the recording cleanly
  const auto started = std::chrono::steady_clock::now();
  result.startCode = QuorelSoundRecorderStart(LibraryText(libraryPath));
  if (result.startCode == QUOREL_START_ALREADY_RECORDING) return result;
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
      if (seconds > 0 && elapsed >= seconds) break;
      if (showMeter) {
        const double peak = live->Available() ? live->PeakDbfs() : NewestPeakDbfs(filePath);
        std::fprintf(stderr, "\r%s", MeterLine(elapsed, peak, FileBytes(filePath)).c_str());
      }
      int waitMs = kRefreshMs;
      if (seconds > 0) {
        waitMs = std::min(waitMs, static_cast<int>((seconds - elapsed) * 1000) + 1);
      }
      if (stop.Wait(waitMs) != StopReason::kNone) break;
    }
    if (showMeter) std::fputc('\n', stderr);
  }
  // Stop follows every Start that touched the recorder, failed or not: it completes the file.
  result.dataBytes = QuorelSoundRecorderStop();
  if (MadeAnEmptyFile(result.startCode)) unlink(filePath.c_str());
  return result;
}

}  // namespace quorel::tool
