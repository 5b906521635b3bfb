// The upload against the test TLS server: what goes on the wire, what lands in the response
// file, and each result code from its real cause.
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "upload/upload_fixture.h"
#include "upload/upload_transaction.h"

namespace quorel::test {
namespace {

constexpr size_t kMiB = 1024 * 1024;

using UploadWire = UploadTest;
using UploadAnswer = UploadTest;
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

TEST_F(UploadWire, PercentEncodesOnlyWhatCannotStandInTheTarget) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  const std::u16string key = u"k&x=1 %|\r\n\u00e9#f";
  const auto server = Serve();
  ASSERT_EQ(UploadSpeech(TestEndpoint(server->Port()), Utf16(audio).c_str(), key.c_str(),
                         Utf16(ResponsePath()).c_str()),
            QUOREL_SUCCESS);
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], "x", "k&x=1%20%%7C%0D%0A%C3%A9#f");
}

TEST_F(UploadWire, GoesOnWhenTheServerSendsAnInterimAnswer) {
  const std::string file = PatternedBytes(4000);
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, file);
  TlsServerOptions options;
  options.sendContinue = true;
  const auto server = Serve(options);
  ASSERT_EQ(Upload(*server, audio), QUOREL_SUCCESS);
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], file);
}

TEST_F(UploadWire, UploadsOnSeveralThreadsAtOnceWithoutMixingTheirBodies) {
  constexpr int kThreads = 4;
  const auto server = Serve();
  std::vector<std::string> files;
  for (int i = 0; i < kThreads; ++i) {
    files.push_back(PatternedBytes(20000 + i * 999));
    WriteFile(ScratchPath("audio-" + std::to_string(i)), files.back());
  }
  std::vector<int32_t> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const std::u16string audio = Utf16(ScratchPath("audio-" + std::to_string(i)));
      const std::u16string response = Utf16(ScratchPath("response-" + std::to_string(i)));
      results[i] =
          UploadSpeech(TestEndpoint(server->Port()), audio.c_str(), u"KEY", response.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(results[i], QUOREL_SUCCESS);
  const auto exchanges = server->WaitForExchanges(kThreads);
  ASSERT_EQ(exchanges.size(), static_cast<size_t>(kThreads));
  for (const auto& exchange : exchanges) {
    const size_t bodyLength = exchange.declaredBodyLength - 123;
    const auto sent = std::find_if(files.begin(), files.end(), [&](const std::string& file) {
      return file.size() == bodyLength;
    });
    ASSERT_NE(sent, files.end());
    ExpectWireRequest(exchange, *sent);
  }
}

struct AnswerCase {
  const char* name;
  std::string status;
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
  options.answerStatus = answer.status;
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
        AnswerCase{"LongerThanOneRead", "200 OK", PatternedBytes(4095 * 3 + 7),
                   AnswerFraming::kContentLength, 0, 0},
        AnswerCase{"OneMegabyte", "200 OK", PatternedBytes(kMiB), AnswerFraming::kContentLength, 0,
                   0},
        AnswerCase{"Chunked", "200 OK", PatternedBytes(50000), AnswerFraming::kChunked, 777, 0},
        AnswerCase{"UntilClose", "200 OK", PatternedBytes(9000), AnswerFraming::kUntilClose, 0, 0},
        AnswerCase{"Slow", "200 OK", PatternedBytes(1000), AnswerFraming::kContentLength, 250, 100},
        AnswerCase{"ErrorPage", "500 Internal Server Error", "<html>no</html>",
                   AnswerFraming::kContentLength, 0, 0}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST_F(UploadAnswer, EmptyAnswerEmptiesAnExistingResponseFile) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  WriteFile(ResponsePath(), "an earlier answer");
  TlsServerOptions options;
  options.answerBody = "";
  const auto server = Serve(options);
  ASSERT_EQ(Upload(*server, audio), QUOREL_SUCCESS);
  EXPECT_TRUE(FileExists(ResponsePath()));
  EXPECT_EQ(ReadFile(ResponsePath()), "");
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

TEST_F(UploadWire, KeyOf147UnitsFillsTheTarget) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  const std::string key(147, 'k');
  const auto server = Serve();
  ASSERT_EQ(Upload(*server, audio, key), QUOREL_SUCCESS);
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], "x", key);
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

struct BeginFailureCase {
  const char* name;
  Misbehaviour misbehaviour;
};

void PrintTo(const BeginFailureCase& cause, std::ostream* out) {
  *out << cause.name;
}

class UploadBeginFailure : public UploadTest,
                           public ::testing::WithParamInterface<BeginFailureCase> {};

TEST_P(UploadBeginFailure, ReachingTheServiceFailsAtTheBegin) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  TlsServerOptions options;
  options.misbehaviour = GetParam().misbehaviour;
  const auto server = Serve(options);
  EXPECT_EQ(Upload(*server, audio), QUOREL_SPEECH_BEGIN_FAILED);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UploadBeginFailure,
    ::testing::Values(BeginFailureCase{"Refused", Misbehaviour::kRefuse},
                      BeginFailureCase{"HandshakeFails", Misbehaviour::kFailHandshake},
                      BeginFailureCase{"HandshakeNeverAnswered", Misbehaviour::kStallHandshake}),
    [](const ::testing::TestParamInfo<BeginFailureCase>& info) { return info.param.name; });

// A file far larger than all the buffers between the two ends, so the client is still sending
// it when the server acts.
TlsServerOptions CutShortInTheFile(Misbehaviour misbehaviour) {
  TlsServerOptions options;
  options.misbehaviour = misbehaviour;
  options.requestBodyLimit = 256 * 1024;
  options.receiveBufferBytes = 32 * 1024;
  return options;
}

TEST_F(UploadFailure, ConnectionResetInTheFileFailsItsSend) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, PatternedBytes(16 * kMiB));
  const auto server = Serve(CutShortInTheFile(Misbehaviour::kCloseInRequest));
  EXPECT_EQ(Upload(*server, audio), QUOREL_SPEECH_AUDIO_SEND_FAILED);
}

TEST_F(UploadFailure, ServerThatStopsReadingTheFileFailsItsSendOnceStalled) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, PatternedBytes(16 * kMiB));
  const auto server = Serve(CutShortInTheFile(Misbehaviour::kStallInRequest));
  EXPECT_EQ(Upload(*server, audio), QUOREL_SPEECH_AUDIO_SEND_FAILED);
}

struct NoAnswerCase {
  const char* name;
  Misbehaviour misbehaviour;
  bool halfOfTheBodyKept;
};

void PrintTo(const NoAnswerCase& cause, std::ostream* out) {
  *out << cause.name;
}

class UploadWithoutCompleteAnswer : public UploadTest,
                                    public ::testing::WithParamInterface<NoAnswerCase> {};

TEST_P(UploadWithoutCompleteAnswer, ReportsNoAnswerAndKeepsWhatArrived) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  WriteFile(ResponsePath(), "an earlier answer");
  TlsServerOptions options;
  options.misbehaviour = GetParam().misbehaviour;
  options.answerBody = PatternedBytes(10000);
  const auto server = Serve(options);
  EXPECT_EQ(Upload(*server, audio), QUOREL_SPEECH_NO_ANSWER);
  const std::string kept = GetParam().halfOfTheBodyKept ? options.answerBody.substr(0, 5000) : "";
  EXPECT_TRUE(ReadFile(ResponsePath()) == kept);
  // The server misbehaves only once it has read the whole request.
  EXPECT_TRUE(server->WaitForMisbehaviour());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UploadWithoutCompleteAnswer,
    ::testing::Values(NoAnswerCase{"ClosedWithoutAnswer", Misbehaviour::kNoAnswer, false},
                      NoAnswerCase{"AnswerNeverComes", Misbehaviour::kStallAnswer, false},
                      NoAnswerCase{"ResetInTheAnswer", Misbehaviour::kCutAnswer, true},
                      NoAnswerCase{"StalledInTheAnswer", Misbehaviour::kStallInAnswer, true}),
    [](const ::testing::TestParamInfo<NoAnswerCase>& info) { return info.param.name; });

TEST_F(UploadFailure, ResponseFileThatCannotBeCreatedOrWrittenIsReportedAfterTheRequest) {
  const std::string audio = ScratchPath("audio.wav");
  WriteFile(audio, "x");
  const auto server = Serve();
  const HttpEndpoint endpoint = TestEndpoint(server->Port());
  EXPECT_EQ(UploadSpeech(endpoint, Utf16(audio).c_str(), u"KEY",
                         Utf16(ScratchPath("no-such-folder/response.json")).c_str()),
            QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
  EXPECT_EQ(UploadSpeech(endpoint, Utf16(audio).c_str(), u"KEY", u"/dev/full"),
            QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
  const auto exchanges = server->WaitForExchanges(2);
  ASSERT_EQ(exchanges.size(), 2u);
  for (const auto& exchange : exchanges) ExpectWireRequest(exchange, "x");
}

}  // namespace
}  // namespace quorel::test
