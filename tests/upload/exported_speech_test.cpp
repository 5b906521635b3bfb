// QuorelSpeech itself, through a build of the shared library whose service is the test server.
#include "VantrelQuorelSpeech.h"
#include "upload/upload_fixture.h"

namespace quorel::test {
namespace {

TEST(ExportedSpeech, PostsTheFileAndStoresTheAnswer) {
  WriteFile(QUOREL_TEST_SERVICE_CA_FILE, ReadFile(Certificates().caFile));
  const std::string audio = ScratchPath("recording.wav");
  const std::string response = ScratchPath("answer.json");
  const std::string file = PatternedBytes(44 + 32000);
  WriteFile(audio, file);
  TlsServerOptions options;
  options.port = QUOREL_TEST_SERVICE_PORT;
  options.answerBody = "{\"result\":[{\"alternative\":[{\"transcript\":\"hello\"}]}]}\n";
  const auto server = Serve(options);
  const size_t descriptors = OpenDescriptorCount();
  ASSERT_EQ(QuorelSpeech(Utf16(audio).c_str(), u"KEY", Utf16(response).c_str()), QUOREL_SUCCESS);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(ReadFile(response), options.answerBody);
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], file);
}

}  // namespace
}  // namespace quorel::test
