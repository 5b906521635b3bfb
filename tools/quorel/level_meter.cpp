#include "level_meter.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>

namespace quorel::tool {

namespace {

constexpr std::streamoff kHeaderBytes = 44;
constexpr std::streamoff kWindowBytes = 3200;  // 0.1 s at 16 kHz mono 16-bit
constexpr int kMeterWidth = 30;
constexpr double kMeterFloorDbfs = -60;

}  // namespace

double NewestPeakDbfs(const std::string& wavePath) {
  std::ifstream file(wavePath, std::ios::binary | std::ios::ate);
  const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : 0;
  const std::streamoff data = size - kHeaderBytes;
  if (data < 2) return -std::numeric_limits<double>::infinity();
  const std::streamoff window = std::min(kWindowBytes, data - data % 2);
  char bytes[kWindowBytes];
  file.seekg(kHeaderBytes + data - data % 2 - window);
  file.read(bytes, window);
  int peak = 0;
  for (std::streamoff i = 0; i + 1 < file.gcount(); i += 2) {
    const auto sample = static_cast<int16_t>(static_cast<uint16_t>(
        static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    peak = std::max(peak, std::abs(static_cast<int>(sample)));
  }
  return PeakToDbfs(peak);
}

double PeakToDbfs(int peak) {
  return peak == 0 ? -std::numeric_limits<double>::infinity() : 20 * std::log10(peak / 32768.0);
}

std::string MeterLine(double elapsedSeconds, double peakDbfs, long long fileBytes) {
  const double clamped = std::max(kMeterFloorDbfs, std::min(0.0, peakDbfs));
  const int filled = static_cast<int>(std::lround((1 - clamped / kMeterFloorDbfs) * kMeterWidth));
  char level[16];
  if (std::isinf(peakDbfs)) {
    std::snprintf(level, sizeof level, "   -- dBFS");
  } else {
    std::snprintf(level, sizeof level, "%5.0f dBFS", peakDbfs);
  }
  char line[128];
  std::snprintf(line, sizeof line, "%6.1f s  [%s%s] %s %8.1f KiB", elapsedSeconds,
                std::string(filled, '#').c_str(), std::string(kMeterWidth - filled, '.').c_str(),
                level, fileBytes / 1024.0);
  return line;
}

}  // namespace quorel::tool
