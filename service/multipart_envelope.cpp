#include "multipart_envelope.h"

#include <cctype>

namespace quorel::service {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr size_t kMaxBoundaryLength = 70;  // the longest multipart boundary allowed
constexpr size_t kMaxPartHeaderBytes = 4096;

Envelope Fail(std::string problem) {
  Envelope envelope;
  envelope.problem = std::move(problem);
  return envelope;
}

bool IsBoundaryCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("'()+_,-./:=?").find(c) != std::string_view::npos;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// True when the part's headers hold Content-Disposition: form-data with name="myfile".
bool NamesAudioField(std::string_view headers) {
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find(kCrLf, start);
    if (end == std::string_view::npos) end = headers.size();
    const std::string line = Lower(headers.substr(start, end - start));
    start = end + kCrLf.size();
    if (line.rfind("content-disposition:", 0) != 0) continue;
    const bool formData = line.find("form-data") != std::string::npos;
    const std::string name = "name=\"" + std::string(kAudioFieldName) + "\"";
    const size_t nameAt = line.find(name);
    // "filename=" also ends in name=; the field's own name stands after "; " or a blank.
    const bool ownName = nameAt != std::string::npos && nameAt > 0 &&
                         (line[nameAt - 1] == ' ' || line[nameAt - 1] == ';');
    return formData && ownName;
  }
  return false;
}

}  // namespace

Envelope OpenEnvelope(std::string_view body) {
  if (body.empty()) return Fail("the request body is empty");
  if (body.substr(0, 2) != "--") return Fail("the body does not begin with a boundary line (--)");
  const size_t lineEnd = body.find(kCrLf);
  if (lineEnd == std::string_view::npos || lineEnd > 2 + kMaxBoundaryLength) {
    return Fail("the boundary line is missing its end or longer than 70 characters");
  }
  const std::string_view token = body.substr(2, lineEnd - 2);
  if (token.empty()) return Fail("the boundary is empty");
  for (const char c : token) {
    if (!IsBoundaryCharacter(c)) return Fail("the boundary holds a character boundaries may not");
  }

  const size_t headersStart = lineEnd + kCrLf.size();
  const size_t headersEnd = body.find("\r\n\r\n", headersStart);
  if (headersEnd == std::string_view::npos || headersEnd - headersStart > kMaxPartHeaderBytes) {
    return Fail("the part's headers do not end with an empty line");
  }
  if (!NamesAudioField(body.substr(headersStart, headersEnd - headersStart))) {
    return Fail("the part is not the form-data field \"myfile\"");
  }

  const size_t contentStart = headersEnd + 4;
  const std::string delimiter = std::string(kCrLf) + "--" + std::string(token);
  const size_t contentEnd = body.find(delimiter, contentStart);
  if (contentEnd == std::string_view::npos) {
    return Fail("the envelope is not closed (no final boundary)");
  }
  const std::string_view after = body.substr(contentEnd + delimiter.size());
  if (after.substr(0, 2) != "--") return Fail("the envelope holds more than one part");

  Envelope envelope;
  envelope.valid = true;
  envelope.part = body.substr(contentStart, contentEnd - contentStart);
  return envelope;
}

}  // namespace quorel::service
