#include "support/portable/wire_request.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace quorel::test {

namespace {

constexpr char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/34.0.1847.131 Safari/537.36";

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsToken(const std::string& text) {
  if (text.size() != 19) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The boundary token as it appears at the start of a recorded body ("--" + 19 digits).
std::string TokenOf(const std::string& body) {
  const size_t lineEnd = body.find("\r\n");
  if (body.compare(0, 2, "--") != 0 || lineEnd == std::string::npos) return "";
  return body.substr(2, lineEnd - 2);
}

}  // namespace

ParsedRequest ParseRequest(const std::string& raw) {
  ParsedRequest parsed;
  const size_t headerEnd = raw.find("\r\n\r\n");
  if (headerEnd == std::string::npos) return parsed;
  const size_t lineEnd = raw.find("\r\n");
  parsed.requestLine = raw.substr(0, lineEnd);
  if (lineEnd < headerEnd) parsed.headerLines = raw.substr(lineEnd + 2, headerEnd - lineEnd - 2);
  parsed.body = raw.substr(headerEnd + 4);
  int count = 0;
  const std::string declared = FieldValues(parsed.headerLines, "Content-Length", &count);
  parsed.complete =
      count == 1 && parsed.body.size() >= std::strtoull(declared.c_str(), nullptr, 10);
  return parsed;
}

std::string FieldValues(const std::string& headerLines, const std::string& name, int* count) {
  std::string values;
  *count = 0;
  size_t start = 0;
  while (start < headerLines.size()) {
    size_t end = headerLines.find("\r\n", start);
    if (end == std::string::npos) end = headerLines.size();
    const std::string line = headerLines.substr(start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos && Lowercase(line.substr(0, colon)) == Lowercase(name)) {
      size_t valueStart = colon + 1;
      while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
      if ((*count)++ > 0) values += "|";
      values += line.substr(valueStart);
    }
    start = end + 2;
  }
  return values;
}

std::string PatternedBytes(size_t count) {
  std::string bytes(count, '\0');
  uint32_t state = 2463534242u;
  for (size_t i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<char>(state);
  }
  return bytes;
}

std::string WireRequestFaults(const std::string& raw, const std::string& file,
                              const std::string& key, OtherFields others) {
  const ParsedRequest request = ParseRequest(raw);
  if (!request.complete) return "no complete request: " + raw.substr(0, 200);
  std::string faults;
  const std::string line =
      "POST /speech-api/v2/recognize?output=json&lang=en-us&key=" + key + " HTTP/1.1";
  if (request.requestLine != line) faults += "request line " + request.requestLine + "; ";

  const std::string token = TokenOf(request.body);
  if (!IsToken(token)) faults += "boundary token \"" + token + "\"; ";
  const std::string body = "--" + token +
                           "\r\nContent-Disposition: form-data; name=\"myfile\"; "
                           "filename=\"message.wav\"\r\n\r\n" +
                           file + "\r\n--" + token + "--\r\n";
  if (request.body.size() != body.size()) {
    faults += "body of " + std::to_string(request.body.size()) + " bytes instead of " +
              std::to_string(body.size()) + "; ";
  } else if (request.body != body) {
    faults += "body differs; ";
  }

  const std::string expected[][2] = {
      {"Host", "localhost"},      {"Accept", "*/*"},
      {"User-Agent", kUserAgent}, {"Content-Length", std::to_string(body.size())},
      {"Expect", "100-continue"}, {"Content-Type", "audio/l16; rate=16000;"},
  };
  for (const auto& field : expected) {
    int count = 0;
    const std::string value = FieldValues(request.headerLines, field[0], &count);
    if (count != 1 || value != field[1]) {
      faults += field[0] + " " + std::to_string(count) + " times: " + value + "; ";
    }
  }
  int chunked = 0;
  FieldValues(request.headerLines, "Transfer-Encoding", &chunked);
  if (chunked != 0) faults += "Transfer-Encoding present; ";
  if (others == OtherFields::kNone) {
    // Each line as the block writes it, byte for byte, and no other.
    for (size_t start = 0; start <= request.headerLines.size();) {
      size_t end = request.headerLines.find("\r\n", start);
      if (end == std::string::npos) end = request.headerLines.size();
      const std::string headerLine = request.headerLines.substr(start, end - start);
      start = end + 2;
      bool known = headerLine == "boundary=--" + token;
      for (const auto& field : expected) known |= headerLine == field[0] + ": " + field[1];
      if (!known) faults += "header line \"" + headerLine + "\"; ";
    }
  }
  return faults;
}

}  // namespace quorel::test
