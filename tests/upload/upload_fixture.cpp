#include "upload/upload_fixture.h"

#include "support/portable/scratch_folder.h"
#include "upload/upload_transaction.h"

namespace quorel::test {

namespace {

// Removed with everything in it when the test process ends.
const ScratchFolder& Scratch() {
  static const ScratchFolder scratch;
  return scratch;
}

}  // namespace

const TestCertificates& Certificates() {
  static const TestCertificates set = MakeTestCertificates(Scratch().Root());
  return set;
}

std::string ScratchPath(const std::string& name) {
  return Scratch().Path(name);
}

HttpEndpoint TestEndpoint(uint16_t port) {
  return HttpEndpoint{u"localhost", port,           Certificates().caFile.c_str(),
                      false,        kTestTimeoutMs, kTestTimeoutMs};
}

std::unique_ptr<TlsTestServer> Serve(TlsServerOptions options) {
  if (options.certificateFile.empty()) {
    options.certificateFile = Certificates().localhost.certificate;
    options.keyFile = Certificates().localhost.key;
  }
  return std::make_unique<TlsTestServer>(std::move(options));
}

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

int32_t UploadTest::Upload(const TlsTestServer& server, const std::string& audioPath,
                           const std::string& key) {
  const HttpEndpoint endpoint = TestEndpoint(server.Port());
  return UploadSpeech(endpoint, Utf16(audioPath).c_str(), Utf16(key).c_str(),
                      Utf16(ResponsePath()).c_str());
}

void ExpectWireRequest(const RecordedExchange& exchange, const std::string& fileBytes,
                       const std::string& keyInTarget) {
  EXPECT_EQ(WireRequestFaults(exchange.request, fileBytes, keyInTarget, OtherFields::kNone), "");
}

}  // namespace quorel::test
