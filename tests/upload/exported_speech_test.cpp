// QuorelSpeech itself, through a build of the shared library whose service is the test server.
#include <gtest/gtest.h>

#include "VantrelQuorelSpeech.h"
#include "support/tls/tls_test_server.h"
#include "upload/upload_fixture.h"

namespace quorel::test {
namespace {

class ExportedSpeech : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WriteFile(QUOREL_TEST_SERVICE_CA_FILE, ReadFile(Certificates().caFile));
  }

  static std::unique_ptr<TlsTestServer> ServeOnTheServicePort() {
    TlsServerOptions options;
    options.certificateFile = Certificates().localhost.certificate;
    options.keyFile = Certificates().localhost.key;
    options.port = QUOREL_TEST_SERVICE_PORT;
    options.answerBody = "{\"result\":[{\"alternative\":[{\"transcript\":\"hello\"}]}]}\n";
    return std::make_unique<TlsTestServer>(options);
  }

  const std::string audio_ = ScratchPath("recording.wav");
  const std::u16string audioPath_ = Utf16(audio_);
  const std::u16string responsePath_ = Utf16(ScratchPath("answer.json"));
};

TEST_F(ExportedSpeech, PostsTheFileAndStoresTheAnswer) {
  const std::string file = PatternedBytes(44 + 32000);
  WriteFile(audio_, file);
  const auto server = ServeOnTheServicePort();
  const size_t descriptors = OpenDescriptorCount();
  ASSERT_EQ(QuorelSpeech(audioPath_.c_str(), u"KEY", responsePath_.c_str()), QUOREL_SUCCESS);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(ReadFile(ScratchPath("answer.json")),
            "{\"result\":[{\"alternative\":[{\"transcript\":\"hello\"}]}]}\n");
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], file);
}

TEST_F(ExportedSpeech, ReportsAServiceThatCannotBeReached) {
  WriteFile(audio_, "x");
  TlsServerOptions options;
  options.certificateFile = Certificates().localhost.certificate;
  options.keyFile = Certificates().localhost.key;
  options.port = QUOREL_TEST_SERVICE_PORT;
  options.misbehaviour = Misbehaviour::kRefuse;
  const TlsTestServer refusing(options);
  EXPECT_EQ(QuorelSpeech(audioPath_.c_str(), u"KEY", responsePath_.c_str()),
            QUOREL_SPEECH_BEGIN_FAILED);
  EXPECT_EQ(QuorelSpeech(nullptr, u"KEY", responsePath_.c_str()), QUOREL_SPEECH_AUDIO_OPEN_FAILED);
}

}  // namespace
}  // namespace quorel::test
