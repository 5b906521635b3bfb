// The terminal line shown while recording: elapsed time, the input level and the file's size.
// Without a live level (live_level.h), the level comes from the newest audio in the growing WAV
// file, which the library extends once a second.
#pragma once

#include <string>

namespace quorel::tool {

// Peak level of the last tenth of a second in the file, in dB below full scale; -inf for
// silence or when no audio has arrived yet.
double NewestPeakDbfs(const std::string& wavePath);

// A sample's magnitude (0 to 32768) in dB below full scale; -inf for 0.
double PeakToDbfs(int peak);

// "  3.2 s  [##########..........]  -24 dBFS   96.0 KiB"
std::string MeterLine(double elapsedSeconds, double peakDbfs, long long fileBytes);

}  // namespace quorel::tool
