// What the upload tests share: a scratch folder with freshly made certificates, files in it,
// endpoints for the test server, and the recorded request taken apart.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http_exchange.h"
#include "support/tls/test_certificates.h"

namespace quorel::test {

// The scratch folder of this test process, made on first use with the certificate set in it.
const std::string& ScratchFolder();
const TestCertificates& Certificates();

std::string ScratchPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Bytes that vary along the file, so a lost, doubled or moved chunk shows.
std::string PatternedBytes(size_t count);

// ASCII text as the UTF-16 the upload takes.
std::u16string Utf16(const std::string& text);

// The test server on localhost, trusted through the test CA, with short waits so that the
// stall cases stay quick.
constexpr uint32_t kTestTimeoutMs = 1000;
HttpEndpoint TestEndpoint(uint16_t port, bool acceptMismatchedNames = false);

size_t OpenDescriptorCount();

struct ParsedRequest {
  std::string requestLine;
  std::string headerLines;  // CR LF separated, without the request line and the blank line
  std::string body;
};
// Splits a recorded request at its first blank line; an empty requestLine when there is none.
ParsedRequest ParseRequest(const std::string& raw);

// The boundary token as it appears at the start of a recorded body ("--" + 19 digits).
std::string TokenOf(const std::string& body);
std::string ExpectedHead(const std::string& token);
std::string ExpectedTail(const std::string& token);

}  // namespace quorel::test
