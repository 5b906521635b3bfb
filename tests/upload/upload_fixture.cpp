#include "upload/upload_fixture.h"

#include <cctype>
#include <set>

#include "upload/upload_transaction.h"

namespace quorel::test {

void UploadTest::SetUpTestSuite() {
  const std::string audio = ScratchPath("warm-up.wav");
  WriteFile(audio, "warm up");
  const auto server = Serve();
  ASSERT_EQ(Upload(*server, audio), 999);
}

void UploadTest::SetUp() {
  descriptorsBefore_ = OpenDescriptorCount();
}

void UploadTest::TearDown() {
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore_) << "a descriptor was left open";
}

std::unique_ptr<TlsTestServer> UploadTest::Serve(TlsServerOptions options) {
  if (options.certificateFile.empty()) {
    options.certificateFile = Certificates().localhost.certificate;
    options.keyFile = Certificates().localhost.key;
  }
  return std::make_unique<TlsTestServer>(std::move(options));
}

std::unique_ptr<TlsTestServer> UploadTest::ServeWith(const CertificateFiles& certificate) {
  TlsServerOptions options;
  options.certificateFile = certificate.certificate;
  options.keyFile = certificate.key;
  return Serve(std::move(options));
}

int32_t UploadTest::Upload(const TlsTestServer& server, const std::string& audioPath,
                           const std::string& key) {
  const HttpEndpoint endpoint = TestEndpoint(server.Port());
  return UploadSpeech(endpoint, Utf16(audioPath).c_str(), Utf16(key).c_str(),
                      Utf16(ResponsePath()).c_str());
}

void ExpectWireRequest(const RecordedExchange& exchange, const std::string& fileBytes,
                       const std::string& keyInTarget) {
  const ParsedRequest request = ParseRequest(exchange.request);
  EXPECT_EQ(request.requestLine, "POST /speech-api/v2/recognize?output=json&lang=en-us&key=" +
                                     keyInTarget + " HTTP/1.1");

  const std::string token = TokenOf(request.body);
  ASSERT_EQ(token.size(), 19u) << request.body.substr(0, 40);
  for (const char digit : token) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(digit)));
  const std::string expectedBody = ExpectedHead(token) + fileBytes + ExpectedTail(token);
  EXPECT_EQ(exchange.declaredBodyLength, expectedBody.size());
  ASSERT_EQ(request.body.size(), expectedBody.size());
  EXPECT_TRUE(request.body == expectedBody) << "the body differs from head + file + tail";

  std::multiset<std::string> lines;
  for (size_t start = 0; start <= request.headerLines.size();) {
    size_t end = request.headerLines.find("\r\n", start);
    if (end == std::string::npos) end = request.headerLines.size();
    lines.insert(request.headerLines.substr(start, end - start));
    start = end + 2;
  }
  lines.erase("boundary=--" + token);
  const std::multiset<std::string> expected = {
      "Host: localhost",
      "Accept: */*",
      "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
      "Chrome/34.0.1847.131 Safari/537.36",
      "Content-Length: " + std::to_string(expectedBody.size()),
      "Expect: 100-continue",
      "Content-Type: audio/l16; rate=16000;",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace quorel::test
