// One recording through the library, ended by time, Enter or a signal, its file always
// finalised by the library's Stop.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::tool {

struct RecordingResult {
  int32_t startCode = 0;  // QUOREL_SUCCESS or the QUOREL_START_* code
  int32_t dataBytes = 0;  // audio bytes in the finished file
  double Seconds() const { return dataBytes / 32000.0; }
};

// Records into filePath (libraryPath is the same name in UTF-16). seconds <= 0: until Enter or
// a signal; otherwise exactly that long, to a sample, unless Enter or a signal comes first or the
// input ends. showMeter draws elapsed time, level and size on stderr, naming the recording
// shownName. When recording never began, the file the library made is removed again.
RecordingResult Record(const std::u16string& libraryPath, const std::string& filePath,
                       const std::string& shownName, double seconds, bool showMeter);

}  // namespace quorel::tool
