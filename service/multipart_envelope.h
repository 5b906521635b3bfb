// The multipart envelope around the audio, in either of two forms:
// - the library's (Content-Type: audio/l16): its Content-Type names no boundary (its boundary
//   line has no field name and never reaches the wire), so the boundary is read from the body's
//   first line, "--TOKEN", and the body holds the one part "myfile";
// - a standard multipart/form-data upload (curl -F, an HTML form): the boundary is the one the
//   Content-Type declares, a preamble may come first, and other fields are passed over; exactly
//   one part must be named "myfile".
// Either way the part's file name and its own Content-Type are not looked at: the WAV check
// decides.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorel::service {

inline constexpr std::string_view kAudioFieldName = "myfile";

struct Envelope {
  bool valid = false;
  std::string problem;    // plain words when not valid
  std::string_view part;  // the audio part's content (the file's bytes), inside the body
};

// The boundary a multipart/form-data Content-Type declares, unquoted; "" when it declares none
// that may be used; nullopt for any other media type.
std::optional<std::string> FormDataBoundary(std::string_view contentType);

// The library's envelope.
Envelope OpenEnvelope(std::string_view body);
// A multipart/form-data body with the boundary its Content-Type declares.
Envelope OpenFormData(std::string_view body, std::string_view boundary);

}  // namespace quorel::service
