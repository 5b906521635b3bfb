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

// A blank may stand inside a boundary, not at its end.
bool IsValidBoundary(std::string_view token) {
  if (token.empty() || token.size() > kMaxBoundaryLength || token.back() == ' ') return false;
  for (const char c : token) {
    if (!IsBoundaryCharacter(c) && c != ' ') return false;
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
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

// Walks the parts from the boundary line at first to the closing one. The audio part is the one
// named "myfile"; parts counts them all.
struct PartWalk {
  Envelope envelope;
  size_t parts = 0;
  size_t audioParts = 0;
};

PartWalk WalkParts(std::string_view body, std::string_view token, size_t first) {
  PartWalk walk;
  const std::string delimiter = std::string(kCrLf) + "--" + std::string(token);
  for (size_t line = first;;) {
    size_t at = line + 2 + token.size();
    if (body.substr(at, 2) == "--") break;  // the closing boundary; an epilogue may follow
    while (at < body.size() && (body[at] == ' ' || body[at] == '\t')) ++at;
    if (body.substr(at, 2) != kCrLf) {
      walk.envelope = Fail("a boundary line does not end where it should");
      return walk;
    }
    const size_t headersStart = at + kCrLf.size();
    // A part without headers has its empty line at once.
    const bool bare = body.substr(headersStart, 2) == kCrLf;
    const size_t headersEnd = bare ? headersStart : body.find("\r\n\r\n", headersStart);
    if (headersEnd == std::string_view::npos || headersEnd - headersStart > kMaxPartHeaderBytes) {
      walk.envelope = Fail("the part's headers do not end with an empty line");
      return walk;
    }
    const size_t contentStart = headersEnd + (bare ? 2 : 4);
    const size_t contentEnd = body.find(delimiter, contentStart);
    if (contentEnd == std::string_view::npos) {
      walk.envelope = Fail("the envelope is not closed (no final boundary)");
      return walk;
    }
    ++walk.parts;
    if (NamesAudioField(body.substr(headersStart, headersEnd - headersStart))) {
      ++walk.audioParts;
      walk.envelope.part = body.substr(contentStart, contentEnd - contentStart);
    }
    line = contentEnd + kCrLf.size();
  }
  walk.envelope.valid = walk.audioParts == 1;
  if (walk.audioParts != 1) {
    walk.envelope.problem = walk.audioParts == 0
                                ? "no part is the form-data field \"myfile\""
                                : "more than one part is the form-data field \"myfile\"";
  }
  return walk;
}

}  // namespace

std::optional<std::string> FormDataBoundary(std::string_view contentType) {
  size_t end = contentType.find(';');
  if (Lower(TrimBlanks(contentType.substr(0, end))) != "multipart/form-data") return std::nullopt;
  while (end != std::string_view::npos) {
    const size_t start = end + 1;
    end = contentType.find(';', start);
    const std::string_view parameter = TrimBlanks(contentType.substr(start, end - start));
    const size_t equals = parameter.find('=');
    if (equals == std::string_view::npos ||
        Lower(TrimBlanks(parameter.substr(0, equals))) != "boundary") {
      continue;
    }
    std::string_view value = TrimBlanks(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return IsValidBoundary(value) ? std::string(value) : "";
  }
  return "";
}

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
  PartWalk walk = WalkParts(body, token, 0);
  if (walk.envelope.valid && walk.parts > 1) return Fail("the envelope holds more than one part");
  return walk.envelope;
}

Envelope OpenFormData(std::string_view body, std::string_view boundary) {
  if (body.empty()) return Fail("the request body is empty");
  // The first boundary line opens the body or follows a preamble.
  const std::string opening = "--" + std::string(boundary);
  size_t first = body.substr(0, opening.size()) == opening ? 0 : body.find("\r\n" + opening);
  if (first == std::string_view::npos) {
    return Fail("the body holds no line with the boundary its Content-Type declares");
  }
  if (first != 0) first += kCrLf.size();
  return WalkParts(body, boundary, first).envelope;
}

}  // namespace quorel::service
