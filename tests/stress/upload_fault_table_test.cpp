// One table of faults through every phase of an upload (reaching the server, the handshake, the
// header, the envelope head, the file, the tail, the start and the middle of the answer, a
// stall, an answer before the body is whole from a server that stops reading or reads on) and
// the audio file changing while it goes. Each row gives its code and keeps what the library
// promises to keep: the audio file is only read; the response file is replaced only once the
// request has gone out whole or an answer has come, and then holds exactly the answer bytes
// that arrived; a request that went out whole reached the server byte for byte. A failing step
// of the exchange or of a file on its own is the countdown's (upload_countdown_test.cpp); the
// certificates have a table of their own, upload/certificate_cases.cpp, which both systems run.
#include <unistd.h>

#include <chrono>
#include <functional>

#include "VantrelQuorelSpeech.h"
#include "upload/upload_fixture.h"
#include "upload/upload_transaction.h"
#include "upload/write_checkpoint.h"

namespace quorel::test {
namespace {

// The body goes out as the envelope head (write 0), the file in chunks of 1024 and the tail.
constexpr size_t kHeadLength = 96;
constexpr size_t kFileLength = 3000;
constexpr int kFirstFileWrite = 1;
constexpr int kTailWrite = 2 + kFileLength / 1024;
// Far larger than the buffers between the ends, so the client is still sending when the server
// acts.
constexpr size_t kLargeFile = 16 << 20;
constexpr char kEarlierAnswer[] = "an earlier answer";
// Longer than one delivery of libcurl's, so an answer held back while the body is owed shows.
const std::string kAnswer = PatternedBytes(40000);

enum class AudioFault { kNone, kShrinks, kGrows };

struct FaultCase {
  std::string name;
  int32_t expected = QUOREL_SUCCESS;
  AudioFault audioFault = AudioFault::kNone;
  TlsServerOptions server;  // without the certificate and the answer body
  // The server holds the connection until this write of the body is about to go, then acts.
  int heldUntilWrite = -1;
  size_t fileLength = kFileLength;

  // The server misbehaves once bodyBytes of the body are in, and only as write comes due when
  // one is given.
  FaultCase& After(uint64_t bodyBytes, int write = -1) {
    server.requestBodyLimit = bodyBytes;
    heldUntilWrite = write;
    return *this;
  }
  FaultCase& File(size_t length) {
    fileLength = length;
    return *this;
  }
  FaultCase& Answer(const char* status) { return Set(&TlsServerOptions::answerStatus, status); }
  template <typename Field, typename Value>
  FaultCase& Set(Field TlsServerOptions::*field, Value value) {
    server.*field = value;
    return *this;
  }
};

FaultCase Row(std::string name, Misbehaviour misbehaviour, int32_t expected,
              AudioFault audioFault = AudioFault::kNone) {
  FaultCase row;
  row.name = std::move(name);
  row.expected = expected;
  row.audioFault = audioFault;
  row.server.misbehaviour = misbehaviour;
  return row;
}

// The server answers when write comes due and reads on whatever is sent: the step that was
// due cannot finish, and the answer is stored whole at once.
FaultCase ReadingOn(std::string name, const char* status, size_t fileLength, int write) {
  const int32_t expected = write == 0                 ? QUOREL_SPEECH_HEAD_SEND_FAILED
                           : write == kFirstFileWrite ? QUOREL_SPEECH_AUDIO_SEND_FAILED
                                                      : QUOREL_SPEECH_TAIL_SEND_FAILED;
  const uint64_t bodyBytes = write == 0                 ? 0
                             : write == kFirstFileWrite ? kHeadLength
                                                        : kHeadLength + fileLength;
  return Row(std::move(name), Misbehaviour::kEarlyAnswerReading, expected)
      .Answer(status)
      .File(fileLength)
      .After(bodyBytes, write);
}

std::vector<FaultCase> Rows() {
  using M = Misbehaviour;
  // The server answers once part of the file has arrived and then reads no more: the audio
  // cannot go out in full, and the answer is kept all the same.
  const auto early = [](const char* name, const char* status) {
    return Row(name, M::kEarlyAnswer, QUOREL_SPEECH_AUDIO_SEND_FAILED)
        .Answer(status)
        .File(kLargeFile)
        .After(kHeadLength + 1024);
  };
  std::vector<FaultCase> rows = {
      Row("Clean", M::kNone, QUOREL_SUCCESS),
      Row("InterimAnswerFirst", M::kNone, QUOREL_SUCCESS)
          .Set(&TlsServerOptions::sendContinue, true),
      Row("ConnectionRefused", M::kRefuse, QUOREL_SPEECH_BEGIN_FAILED),
      Row("HandshakeFails", M::kFailHandshake, QUOREL_SPEECH_BEGIN_FAILED),
      Row("HandshakeStalls", M::kStallHandshake, QUOREL_SPEECH_BEGIN_FAILED),
      // Resets just before a write, once the server has what came before it.
      Row("ResetAfterTheHeader", M::kCloseInRequest, QUOREL_SPEECH_HEAD_SEND_FAILED).After(0, 0),
      Row("ResetInTheHead", M::kCloseInRequest, QUOREL_SPEECH_AUDIO_SEND_FAILED)
          .After(kHeadLength / 2, kFirstFileWrite),
      Row("ResetInTheFile", M::kCloseInRequest, QUOREL_SPEECH_AUDIO_SEND_FAILED)
          .After(kHeadLength + 1024, kFirstFileWrite + 1),
      Row("ResetBeforeTheTail", M::kCloseInRequest, QUOREL_SPEECH_TAIL_SEND_FAILED)
          .After(kHeadLength + kFileLength, kTailWrite),
      // The tail is out before the reset reaches the client, which then waits for an answer.
      Row("ResetInTheTail", M::kCloseInRequest, QUOREL_SPEECH_NO_ANSWER)
          .After(kHeadLength + kFileLength + 10),
      // While the client is sending: a reset, or a server that stops reading.
      Row("ResetWhileTheFileGoes", M::kCloseInRequest, QUOREL_SPEECH_AUDIO_SEND_FAILED)
          .File(kLargeFile)
          .After(256 * 1024),
      Row("StallInTheFile", M::kStallInRequest, QUOREL_SPEECH_AUDIO_SEND_FAILED)
          .File(kLargeFile)
          .After(256 * 1024),
      early("EarlyExpectationFailed", "417 Expectation Failed"),
      early("EarlyTooLarge", "413 Payload Too Large"),
      // The server gives up on the stalled body with a reset: the answer before it is kept.
      early("EarlyTooLargeThenReset", "413 Payload Too Large")
          .Set(&TlsServerOptions::resetAfterEarlyAnswerMs, 300u),
      ReadingOn("Early417ReadingOnBeforeTheHead", "417 Expectation Failed", kFileLength, 0),
      ReadingOn("Early417ReadingOnBeforeTheTail", "417 Expectation Failed", kFileLength,
                kTailWrite),
      // The end of a chunked answer ends the exchange as its length would.
      ReadingOn("Chunked417ReadingOn3M", "417 Expectation Failed", 3 << 20, kFirstFileWrite)
          .Set(&TlsServerOptions::framing, AnswerFraming::kChunked),
      Row("InterimAnswerThenClosed", M::kContinueThenClose, QUOREL_SPEECH_NO_ANSWER),
      Row("ClosedBeforeTheAnswer", M::kNoAnswer, QUOREL_SPEECH_NO_ANSWER),
      Row("AnswerNeverStarts", M::kStallAnswer, QUOREL_SPEECH_NO_ANSWER),
      Row("ResetInTheAnswer", M::kCutAnswer, QUOREL_SPEECH_NO_ANSWER),
      Row("StallInTheAnswer", M::kStallInAnswer, QUOREL_SPEECH_NO_ANSWER),
      Row("AudioShrinks", M::kNone, QUOREL_SPEECH_AUDIO_READ_FAILED, AudioFault::kShrinks),
      Row("AudioGrows", M::kNone, QUOREL_SUCCESS, AudioFault::kGrows),
  };
  for (const char* status : {"417 Expectation Failed", "413 Payload Too Large"}) {
    for (const bool sendContinue : {false, true}) {
      for (const auto& [size, sizeName] :
           {std::pair<size_t, const char*>{20000, "20k"}, {3 << 20, "3M"}, {40 << 20, "40M"}}) {
        const std::string name = std::string(sendContinue ? "Continue" : "Early") +
                                 std::string(status, 3) + "ReadingOn" + sizeName;
        rows.push_back(ReadingOn(name, status, size, kFirstFileWrite)
                           .Set(&TlsServerOptions::sendContinue, sendContinue));
      }
    }
  }
  return rows;
}

void PrintTo(const FaultCase& fault, std::ostream* out) {
  *out << fault.name;
}

// What the response file holds afterwards: the answer bytes that arrived once the request went
// out whole or an answer came, else the earlier answer.
std::string KeptResponse(const FaultCase& fault) {
  const Misbehaviour misbehaviour = fault.server.misbehaviour;
  if (misbehaviour == Misbehaviour::kEarlyAnswer ||
      misbehaviour == Misbehaviour::kEarlyAnswerReading || fault.expected == QUOREL_SUCCESS) {
    return kAnswer;
  }
  if (misbehaviour == Misbehaviour::kCutAnswer || misbehaviour == Misbehaviour::kStallInAnswer) {
    return kAnswer.substr(0, kAnswer.size() / 2);
  }
  return fault.expected == QUOREL_SPEECH_NO_ANSWER ? "" : kEarlierAnswer;
}

class UploadFaultTable : public UploadTest, public ::testing::WithParamInterface<FaultCase> {
 protected:
  void TearDown() override {
    SetWriteCheckpoint(nullptr);
    UploadTest::TearDown();
  }
};

TEST_P(UploadFaultTable, GivesItsCodeAndKeepsWhatIsPromised) {
  const FaultCase& fault = GetParam();
  const std::string audio = ScratchPath("audio.wav");
  const std::string file = PatternedBytes(fault.fileLength);
  std::string audioAfter = file;  // what the test itself leaves in the audio file
  WriteFile(audio, file);
  WriteFile(ResponsePath(), kEarlierAnswer);

  TlsServerOptions options = fault.server;
  options.receiveBufferBytes = fault.fileLength > kFileLength ? 32 * 1024 : 0;
  options.holdUntilReleased = fault.heldUntilWrite >= 0;
  options.answerBody = kAnswer;
  const auto server = Serve(options);
  TlsTestServer& reference = *server;
  SetWriteCheckpoint([&](size_t write) {
    if (static_cast<int>(write) == fault.heldUntilWrite) {
      reference.Release();
      EXPECT_TRUE(reference.WaitForMisbehaviour());
    }
    if (static_cast<int>(write) != kFirstFileWrite) return;
    if (fault.audioFault == AudioFault::kShrinks) {
      ASSERT_EQ(truncate(audio.c_str(), 1500), 0);
      audioAfter = file.substr(0, 1500);
    } else if (fault.audioFault == AudioFault::kGrows) {
      audioAfter = file + PatternedBytes(5000);
      WriteFile(audio, audioAfter);
    }
  });

  HttpEndpoint endpoint = TestEndpoint(server->Port());
  const bool readsOn = options.misbehaviour == Misbehaviour::kEarlyAnswerReading;
  // A stall limit beyond the bound on the call: waiting out a stall anywhere fails the row.
  if (readsOn) endpoint.stallTimeoutMs = 10000;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(UploadSpeech(endpoint, Utf16(audio).c_str(), u"KEY", Utf16(ResponsePath()).c_str()),
            fault.expected);
  if (readsOn) {
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }

  EXPECT_TRUE(ReadFile(audio) == audioAfter) << "the audio file changed";
  const std::string response = ReadFile(ResponsePath());
  EXPECT_TRUE(response == KeptResponse(fault)) << response.size() << " bytes stored";
  // One request, never retried (libcurl plans a retry after a 417).
  EXPECT_LE(server->ConnectionCount(), 1u);
  if (readsOn) {
    // The server read all that the client sent: the request's head once, and never again.
    const auto exchanges = server->WaitForExchanges(1);
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].request.rfind("POST /"), 0u);
  }
  const bool stalledInTheAnswer = options.misbehaviour == Misbehaviour::kStallAnswer ||
                                  options.misbehaviour == Misbehaviour::kStallInAnswer;
  // What the server read of a request that went out whole: all of it, unless it reset first.
  const bool readWhole =
      fault.expected == QUOREL_SUCCESS || (fault.expected == QUOREL_SPEECH_NO_ANSWER &&
                                           options.misbehaviour != Misbehaviour::kCloseInRequest);
  if (stalledInTheAnswer) {
    // The server stalls only once it has read the whole request; its record of it is complete
    // only when the server closes.
    EXPECT_TRUE(server->WaitForMisbehaviour());
  } else if (readWhole) {
    const auto exchanges = server->WaitForExchanges(1);
    ASSERT_EQ(exchanges.size(), 1u);
    ExpectWireRequest(exchanges[0], file);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPhaseAndFile, UploadFaultTable, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace quorel::test
