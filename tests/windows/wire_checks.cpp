#include "wire_checks.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "harness.h"
#include "temp_folder.h"

namespace quorel::test {

namespace {

constexpr char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/34.0.1847.131 Safari/537.36";

std::wstring EnvironmentText(const std::string& name) {
  wchar_t value[1024];
  const std::wstring wideName(name.begin(), name.end());
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct ParsedRequest {
  std::string requestLine;
  std::string headerLines;  // CR LF separated, without the request line and the blank line
  std::string body;
  bool complete = false;  // a header end, and as many body bytes as Content-Length declares
};

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Values of every header field named name (case-insensitive), joined by '|'; the count in *count.
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

ParsedRequest ParseRequest(const std::string& raw) {
  ParsedRequest parsed;
  const size_t headerEnd = raw.find("\r\n\r\n");
  if (headerEnd == std::string::npos) return parsed;
  const size_t lineEnd = raw.find("\r\n");
  parsed.requestLine = raw.substr(0, lineEnd);
  parsed.headerLines = lineEnd < headerEnd ? raw.substr(lineEnd + 2, headerEnd - lineEnd - 2) : "";
  parsed.body = raw.substr(headerEnd + 4);
  int count = 0;
  const std::string declared = FieldValues(parsed.headerLines, "Content-Length", &count);
  parsed.complete =
      count == 1 && parsed.body.size() >= std::strtoull(declared.c_str(), nullptr, 10);
  return parsed;
}

bool IsToken(const std::string& text) {
  if (text.size() != 19) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

uint16_t ServerPort(const char* name) {
  const std::wstring value = EnvironmentText(std::string("QUOREL_PORT_") + name);
  return static_cast<uint16_t>(std::wcstoul(value.c_str(), nullptr, 10));
}

RecordedRequests::RecordedRequests(const char* name)
    : folder_(EnvironmentText(std::string("QUOREL_RECORDS_") + name)) {}

size_t RecordedRequests::Count() const {
  size_t count = 0;
  while (!folder_.empty() &&
         FileExists(folder_ + L"\\request-" + std::to_wstring(count + 1) + L".bin")) {
    ++count;
  }
  return count;
}

std::string RecordedRequests::Wait(size_t index) const {
  const std::wstring path = folder_ + L"\\request-" + std::to_wstring(index) + L".bin";
  // The server writes each file once its exchange is over, a moment after the client is done.
  for (int attempt = 0; attempt < 600 && !folder_.empty(); ++attempt) {
    if (FileExists(path)) {
      const std::string raw = ReadWholeFile(path);
      if (ParseRequest(raw).complete) return raw;
    }
    Sleep(50);
  }
  return "<none>";
}

std::string PatternedBytes(size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

void CheckWireRequest(const std::string& raw, const std::string& file, const std::string& key) {
  const ParsedRequest request = ParseRequest(raw);
  REQUIRE(request.complete);
  CHECK_EQ(request.requestLine,
           "POST /speech-api/v2/recognize?output=json&lang=en-us&key=" + key + " HTTP/1.1");

  const std::string& body = request.body;
  const size_t firstLine = body.find("\r\n");
  REQUIRE(firstLine != std::string::npos && body.compare(0, 2, "--") == 0);
  const std::string token = body.substr(2, firstLine - 2);
  CHECK(IsToken(token));
  const std::string head = "--" + token +
                           "\r\nContent-Disposition: form-data; name=\"myfile\"; "
                           "filename=\"message.wav\"\r\n\r\n";
  const std::string tail = "\r\n--" + token + "--\r\n";
  CHECK_EQ(body.size(), head.size() + file.size() + tail.size());
  CHECK(body == head + file + tail);

  // Each field of the header block once, with the block's value, whatever WinINet adds.
  const std::string expected[][2] = {
      {"Host", "localhost"},
      {"Accept", "*/*"},
      {"User-Agent", kUserAgent},
      {"Content-Length", std::to_string(head.size() + file.size() + tail.size())},
      {"Expect", "100-continue"},
      {"Content-Type", "audio/l16; rate=16000;"},
  };
  for (const auto& field : expected) {
    int count = 0;
    const std::string value = FieldValues(request.headerLines, field[0], &count);
    CHECK_EQ(count, 1);
    CHECK_EQ(value, field[1]);
  }
  int chunked = 0;
  FieldValues(request.headerLines, "Transfer-Encoding", &chunked);
  CHECK_EQ(chunked, 0);
}

}  // namespace quorel::test
