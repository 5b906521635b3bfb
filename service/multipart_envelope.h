// The multipart envelope around the audio. The library's Content-Type names no boundary (its
// boundary line has no field name and never reaches the wire), so the boundary is read from the
// body's first line, "--TOKEN".
#pragma once

#include <string>
#include <string_view>

namespace quorel::service {

inline constexpr std::string_view kAudioFieldName = "myfile";

struct Envelope {
  bool valid = false;
  std::string problem;    // plain words when not valid
  std::string_view part;  // the one part's content (the audio file's bytes), inside the body
};

Envelope OpenEnvelope(std::string_view body);

}  // namespace quorel::service
