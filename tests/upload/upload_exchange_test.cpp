// The upload against the test TLS server: what goes on the wire for every size of file and
// kind of key, answers of every length and pace stored byte for byte, and the arguments and
// files that fail before any connection. The faults of each phase are the fault table's
// (stress/upload_fault_table_test.cpp).
#include <unistd.h>

#include "VantrelQuorelSpeech.h"
#include "upload/upload_fixture.h"
#include "upload/upload_transaction.h"

namespace quorel::test {
namespace {

constexpr size_t kMiB = 1024 * 1024;

using UploadWire = UploadTest;
using UploadFailure = UploadTest;

class UploadFileSize : public UploadTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(UploadFileSize, SendsHeadFileAndTailExactlyAsDeclared) {
  const std::string file = PatternedBytes(GetParam());
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, file);
  const auto server = Serve();
  ASSERT_EQ(Upload(*server, audio), QUOREL_SUCCESS);
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], file);
  EXPECT_EQ(ReadFile(ResponsePath()), TlsServerOptions{}.answerBody);
}

// Empty, shorter than a chunk, chunk multiples (ending with a send of nothing) and several MB.
INSTANTIATE_TEST_SUITE_P(Sizes, UploadFileSize,
                         ::testing::Values(0, 1, 1023, 1024, 3 * 1024, 5 * kMiB + 17));

// Percent-encoded only where it cannot stand in the target; a key of 147 units fills it.
TEST_F(UploadWire, TheKeyGoesIntoTheTargetAsItMayStandThere) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  const std::pair<std::u16string, std::string> keys[] = {
      {u"k&x=1 %|\r\n\u00e9#f", "k&x=1%20%%7C%0D%0A%C3%A9#f"},
      {std::u16string(147, u'k'), std::string(147, 'k')}};
  for (const auto& [key, inTarget] : keys) {
    const auto server = Serve();
    ASSERT_EQ(UploadSpeech(TestEndpoint(server->Port()), Utf16(audio).c_str(), key.c_str(),
                           Utf16(ResponsePath()).c_str()),
              QUOREL_SUCCESS);
    const auto exchanges = server->WaitForExchanges(1);
    ASSERT_EQ(exchanges.size(), 1u);
    ExpectWireRequest(exchanges[0], "x", inTarget);
  }
}

struct AnswerCase {
  const char* name;
  std::string body;
  AnswerFraming framing;
  size_t pieceSize;
  unsigned pieceDelayMs;
};

void PrintTo(const AnswerCase& answer, std::ostream* out) {
  *out << answer.name;
}

class UploadAnswerKinds : public UploadTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(UploadAnswerKinds, StoresTheAnswerBodyByteForByte) {
  const AnswerCase& answer = GetParam();
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, PatternedBytes(2000));
  TlsServerOptions options;
  options.answerBody = answer.body;
  options.framing = answer.framing;
  options.answerPieceSize = answer.pieceSize;
  options.answerPieceDelayMs = answer.pieceDelayMs;
  const auto server = Serve(options);
  ASSERT_EQ(Upload(*server, audio), QUOREL_SUCCESS);
  const std::string stored = ReadFile(ResponsePath());
  EXPECT_EQ(stored.size(), answer.body.size());
  EXPECT_TRUE(stored == answer.body);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UploadAnswerKinds,
    ::testing::Values(
        AnswerCase{"LongerThanOneRead", PatternedBytes(4095 * 3 + 7), AnswerFraming::kContentLength,
                   0, 0},
        AnswerCase{"OneMegabyte", PatternedBytes(kMiB), AnswerFraming::kContentLength, 0, 0},
        AnswerCase{"Chunked", PatternedBytes(50000), AnswerFraming::kChunked, 777, 0},
        AnswerCase{"Slow", PatternedBytes(1000), AnswerFraming::kContentLength, 250, 100}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

// A refusal of the request's head alone can reach libcurl before it goes on from the head to
// the body (here the answer is sent as soon as the connection is up): the head went out, and
// the send of the body that meets the answer fails (51, 8 or 9, by how much went into the
// connection's buffers first; 999 when all of it did), with the answer kept. Twenty calls to one
// server, since which comes first is a race that a resumed TLS session tilts towards the answer.
TEST_F(UploadFailure, ARefusalOfTheHeadAloneIsKeptWithTheCodeOfTheFailedSend) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, PatternedBytes(64 * 1024));
  TlsServerOptions options;
  options.misbehaviour = Misbehaviour::kEarlyAnswer;
  options.answerStatus = "413 Payload Too Large";
  options.answerBody = PatternedBytes(40000);
  options.earlyAnswerBeforeHead = true;
  const auto server = Serve(options);
  for (int call = 0; call < 20; ++call) {
    WriteFile(ResponsePath(), "an earlier answer");
    const int32_t result = Upload(*server, audio);
    EXPECT_TRUE(result == QUOREL_SPEECH_HEAD_SEND_FAILED ||
                result == QUOREL_SPEECH_AUDIO_SEND_FAILED ||
                result == QUOREL_SPEECH_TAIL_SEND_FAILED || result == QUOREL_SUCCESS)
        << "call " << call << " returned " << result;
    EXPECT_TRUE(ReadFile(ResponsePath()) == options.answerBody) << "call " << call;
  }
}

TEST_F(UploadFailure, ArgumentsThatCannotBeUsedFailBeforeAnyConnection) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  const std::u16string audioPath = Utf16(audio);
  const std::u16string missing = Utf16(ScratchPath("no-such.wav"));
  const std::u16string response = Utf16(ResponsePath());
  const std::u16string tooLongKey(148, u'k');
  const char16_t loneSurrogate[] = {u'k', 0xD800, u'k', 0};
  const auto server = Serve();
  const HttpEndpoint endpoint = TestEndpoint(server->Port());

  EXPECT_EQ(UploadSpeech(endpoint, missing.c_str(), u"KEY", response.c_str()),
            QUOREL_SPEECH_AUDIO_OPEN_FAILED);
  EXPECT_EQ(UploadSpeech(endpoint, nullptr, u"KEY", response.c_str()),
            QUOREL_SPEECH_AUDIO_OPEN_FAILED);
  EXPECT_EQ(UploadSpeech(endpoint, audioPath.c_str(), nullptr, response.c_str()),
            QUOREL_SPEECH_REQUEST_FAILED);
  EXPECT_EQ(UploadSpeech(endpoint, audioPath.c_str(), tooLongKey.c_str(), response.c_str()),
            QUOREL_SPEECH_REQUEST_FAILED);
  EXPECT_EQ(UploadSpeech(endpoint, audioPath.c_str(), loneSurrogate, response.c_str()),
            QUOREL_SPEECH_REQUEST_FAILED);
  EXPECT_EQ(UploadSpeech(endpoint, audioPath.c_str(), u"KEY", nullptr),
            QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
  EXPECT_EQ(server->ConnectionCount(), 0u);
}

TEST_F(UploadFailure, HostNameThatCannotBeNamedFailsTheConnectionSetUp) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  const char16_t loneSurrogate[] = {u'h', 0xDC00, 0};
  for (const char16_t* hostName : {u"", static_cast<const char16_t*>(loneSurrogate)}) {
    HttpEndpoint endpoint = TestEndpoint(1);
    endpoint.hostName = hostName;
    EXPECT_EQ(UploadSpeech(endpoint, Utf16(audio).c_str(), u"KEY", Utf16(ResponsePath()).c_str()),
              QUOREL_SPEECH_CONNECTION_FAILED);
  }
}

TEST_F(UploadFailure, FileTooLargeForTheDeclaredLengthFailsBeforeAnyConnection) {
  const std::string audio = ScratchPath("huge.wav");
  const auto server = Serve();
  // Sparse: the sizes cost no disk. The second would wrap round to 10 in 32-bit arithmetic.
  for (const int64_t size : {int64_t{0x7FFFFFFF} - 123 + 1, (int64_t{1} << 32) + 10}) {
    WriteFile(audio, "");
    ASSERT_EQ(truncate(audio.c_str(), size), 0);
    EXPECT_EQ(Upload(*server, audio), QUOREL_SPEECH_AUDIO_READ_FAILED) << size;
  }
  EXPECT_EQ(server->ConnectionCount(), 0u);
}

}  // namespace
}  // namespace quorel::test
