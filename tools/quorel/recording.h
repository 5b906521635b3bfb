// One recording through the library, ended by time, Enter or a signal, its file always
// finalised by the library's Stop.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::tool {

struct RecordingResult {
  int32_t startCode = 0;  // QUOREL_SUCCESS or the QUOREL_START_* code
  int32_t dataBytes = 0;  // what Stop reported
  double Seconds() const { return dataBytes / 32000.0; }
};

// seconds <= 0: until Enter or a signal. showMeter draws elapsed time and level on stderr.
RecordingResult Record(const std::u16string& path, const std::string& displayPath, double seconds,
                       bool showMeter);

}  // namespace quorel::tool
