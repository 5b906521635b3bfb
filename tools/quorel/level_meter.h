// The terminal line shown while recording: elapsed time and the input level. The level comes
// from the newest audio in the growing WAV file, which the library extends once a second.
#pragma once

#include <string>

namespace quorel::tool {

// Peak level of the last tenth of a second in the file, in dB below full scale; -inf for
// silence or when no audio has arrived yet.
double NewestPeakDbfs(const std::string& wavePath);

// "  3.2 s  [##########..........]  -24 dBFS"
std::string MeterLine(double elapsedSeconds, double peakDbfs);

}  // namespace quorel::tool
