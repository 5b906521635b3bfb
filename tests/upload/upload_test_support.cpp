#include "upload/upload_test_support.h"

#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorel::test {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  return remove(path);
}

// Removed with everything in it when the test process ends.
struct Scratch {
  std::string folder;
  Scratch() {
    char pattern[] = "/tmp/quorel-upload-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a scratch folder");
    folder = pattern;
  }
  ~Scratch() { nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }
};

}  // namespace

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.folder;
}

const TestCertificates& Certificates() {
  static const TestCertificates set = MakeTestCertificates(ScratchFolder());
  return set;
}

std::string ScratchPath(const std::string& name) {
  return ScratchFolder() + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool FileExists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
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

std::u16string Utf16(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

HttpEndpoint TestEndpoint(uint16_t port, bool acceptMismatchedNames) {
  return HttpEndpoint{u"localhost",          port,           Certificates().caFile.c_str(),
                      acceptMismatchedNames, kTestTimeoutMs, kTestTimeoutMs};
}

size_t OpenDescriptorCount() {
  size_t count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
  }
  return count;
}

ParsedRequest ParseRequest(const std::string& raw) {
  ParsedRequest parsed;
  const size_t headerEnd = raw.find("\r\n\r\n");
  if (headerEnd == std::string::npos) return parsed;
  const size_t lineEnd = raw.find("\r\n");
  parsed.requestLine = raw.substr(0, lineEnd);
  if (lineEnd < headerEnd) parsed.headerLines = raw.substr(lineEnd + 2, headerEnd - lineEnd - 2);
  parsed.body = raw.substr(headerEnd + 4);
  return parsed;
}

std::string TokenOf(const std::string& body) {
  const size_t lineEnd = body.find("\r\n");
  if (body.compare(0, 2, "--") != 0 || lineEnd == std::string::npos) return "";
  return body.substr(2, lineEnd - 2);
}

std::string ExpectedHead(const std::string& token) {
  return "--" + token +
         "\r\nContent-Disposition: form-data; name=\"myfile\"; filename=\"message.wav\"\r\n\r\n";
}

std::string ExpectedTail(const std::string& token) {
  return "\r\n--" + token + "--\r\n";
}

}  // namespace quorel::test
