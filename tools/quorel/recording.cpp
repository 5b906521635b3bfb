#include "recording.h"

#include <chrono>
#include <cstdio>

#include "VantrelQuorelSpeech.h"
#include "level_meter.h"
#include "stop_request.h"

namespace quorel::tool {

namespace {

constexpr int kRefreshMs = 100;

const QuorelChar* LibraryText(const std::u16string& text) {
  return reinterpret_cast<const QuorelChar*>(text.c_str());
}

}  // namespace

RecordingResult Record(const std::u16string& path, const std::string& displayPath, double seconds,
                       bool showMeter) {
  RecordingResult result;
  StopRequest stop;  // before Start, so that an early signal already ends the recording cleanly
  const auto started = std::chrono::steady_clock::now();
  result.startCode = QuorelSoundRecorderStart(LibraryText(path));
  if (result.startCode == QUOREL_START_ALREADY_RECORDING) return result;
  if (result.startCode == QUOREL_SUCCESS) {
    if (showMeter)
      std::fprintf(stderr, "Recording to %s; Enter or Ctrl-C stops.\n", displayPath.c_str());
    for (;;) {
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      if (seconds > 0 && elapsed >= seconds) break;
      if (showMeter) {
        std::fprintf(stderr, "\r%s", MeterLine(elapsed, NewestPeakDbfs(displayPath)).c_str());
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
  return result;
}

}  // namespace quorel::tool
