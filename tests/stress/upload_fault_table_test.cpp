// One table of faults through every phase of an upload (reaching the server, the handshake, the
// header, the envelope head, the file, the tail, the start and the middle of the answer, a
// stall) and the audio file changing while it goes. Each row gives its code and keeps what the
// library promises to keep: the audio file is only read; the response file is replaced only
// once the request has gone out whole, and then holds exactly the answer bytes that arrived; a
// request that went out whole reached the server byte for byte. A failing step of the exchange
// or of a file on its own is the countdown's (upload_countdown_test.cpp); the certificates have
// a table of their own, upload/certificate_cases.cpp, which both systems run.
#include <unistd.h>

#include <functional>

#include "VantrelQuorelSpeech.h"
#include "upload/upload_fixture.h"
#include "upload/upload_transaction.h"
#include "upload/write_checkpoint.h"

namespace quorel::test {
namespace {

constexpr size_t kHeadLength = 96;
constexpr size_t kFileLength = 3000;
constexpr size_t kFirstFileWrite = 1;
constexpr size_t kSecondFileWrite = 2;
constexpr size_t kTailWrite = 2 + kFileLength / 1024;
constexpr char kEarlierAnswer[] = "an earlier answer";
// Longer than one delivery of libcurl's, so an answer held back while the body is owed shows.
const std::string kAnswer = PatternedBytes(40000);

enum class Kept {
  kEarlierAnswer,  // the request never went out whole: the response file is untouched
  kWholeAnswer,
  kHalfAnswer,  // the answer broke off after half its body
  kNoAnswer,    // replaced by the nothing that arrived
};

enum class AudioFault { kNone, kShrinks, kGrows };

struct FaultCase {
  const char* name;
  Misbehaviour misbehaviour = Misbehaviour::kNone;
  uint64_t requestBodyLimit = 0;
  // The server holds the connection until this write of the body is about to go, then acts.
  int heldUntilWrite = -1;
  AudioFault audioFault = AudioFault::kNone;
  const char* answerStatus = "200 OK";
  size_t fileLength = kFileLength;
  int32_t expected = QUOREL_SUCCESS;
  Kept kept = Kept::kWholeAnswer;
};

void PrintTo(const FaultCase& fault, std::ostream* out) {
  *out << fault.name;
}

FaultCase Phase(const char* name, Misbehaviour misbehaviour, int32_t expected, Kept kept) {
  FaultCase fault{name};
  fault.misbehaviour = misbehaviour;
  fault.expected = expected;
  fault.kept = kept;
  return fault;
}

// The server resets the connection once it has bodyBytes of the body, just before write.
FaultCase ResetBefore(const char* name, int write, uint64_t bodyBytes, int32_t expected) {
  FaultCase fault = Phase(name, Misbehaviour::kCloseInRequest, expected, Kept::kEarlierAnswer);
  fault.heldUntilWrite = write;
  fault.requestBodyLimit = bodyBytes;
  return fault;
}

FaultCase Audio(const char* name, AudioFault audioFault, int32_t expected, Kept kept) {
  FaultCase fault{name};
  fault.audioFault = audioFault;
  fault.expected = expected;
  fault.kept = kept;
  return fault;
}

// The server answers once part of the file has arrived and then reads no more: the audio cannot
// go out in full, and the answer is kept all the same.
FaultCase EarlyAnswer(const char* name, const char* status) {
  FaultCase fault =
      Phase(name, Misbehaviour::kEarlyAnswer, QUOREL_SPEECH_AUDIO_SEND_FAILED, Kept::kWholeAnswer);
  fault.answerStatus = status;
  fault.requestBodyLimit = kHeadLength + 1024;
  fault.fileLength = 16 << 20;
  return fault;
}

FaultCase StallInTheFile() {
  // A file far larger than the buffers between the ends, so the client is still sending it.
  FaultCase fault = Phase("StallInTheFile", Misbehaviour::kStallInRequest,
                          QUOREL_SPEECH_AUDIO_SEND_FAILED, Kept::kEarlierAnswer);
  fault.requestBodyLimit = 256 * 1024;
  fault.fileLength = 16 << 20;
  return fault;
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
  std::string sent = file;        // what a whole request carries
  WriteFile(audio, file);
  WriteFile(ResponsePath(), kEarlierAnswer);

  TlsServerOptions options;
  options.misbehaviour = fault.misbehaviour;
  options.requestBodyLimit = fault.requestBodyLimit;
  options.receiveBufferBytes = fault.fileLength > kFileLength ? 32 * 1024 : 0;
  options.holdUntilReleased = fault.heldUntilWrite >= 0;
  options.answerBody = kAnswer;
  options.answerStatus = fault.answerStatus;
  const auto server = Serve(options);
  TlsTestServer& reference = *server;
  SetWriteCheckpoint([&](size_t write) {
    if (static_cast<int>(write) == fault.heldUntilWrite) {
      reference.Release();
      EXPECT_TRUE(reference.WaitForMisbehaviour());
    }
    if (write != kFirstFileWrite) return;
    if (fault.audioFault == AudioFault::kShrinks) {
      ASSERT_EQ(truncate(audio.c_str(), 1500), 0);
      audioAfter = file.substr(0, 1500);
    } else if (fault.audioFault == AudioFault::kGrows) {
      audioAfter = file + PatternedBytes(5000);
      WriteFile(audio, audioAfter);
    }
  });

  EXPECT_EQ(Upload(*server, audio), fault.expected);

  EXPECT_TRUE(ReadFile(audio) == audioAfter) << "the audio file changed";
  const std::string response = ReadFile(ResponsePath());
  switch (fault.kept) {
    case Kept::kEarlierAnswer:
      EXPECT_EQ(response, kEarlierAnswer);
      break;
    case Kept::kWholeAnswer:
      EXPECT_TRUE(response == kAnswer) << response.size() << " bytes stored";
      break;
    case Kept::kHalfAnswer:
      EXPECT_TRUE(response == kAnswer.substr(0, kAnswer.size() / 2)) << response.size();
      break;
    case Kept::kNoAnswer:
      EXPECT_EQ(response, "");
      break;
  }
  // One request, never retried (libcurl plans a retry after a 417).
  EXPECT_LE(server->ConnectionCount(), 1u);
  const bool requestWhole = fault.expected == QUOREL_SUCCESS ||
                            fault.expected == QUOREL_SPEECH_NO_ANSWER ||
                            fault.expected == QUOREL_SPEECH_RESPONSE_WRITE_FAILED;
  const bool stalledInTheAnswer = fault.misbehaviour == Misbehaviour::kStallAnswer ||
                                  fault.misbehaviour == Misbehaviour::kStallInAnswer;
  if (stalledInTheAnswer) {
    // The server stalls only once it has read the whole request; its record of it is complete
    // only when the server closes.
    EXPECT_TRUE(server->WaitForMisbehaviour());
  } else if (requestWhole) {
    const auto exchanges = server->WaitForExchanges(1);
    ASSERT_EQ(exchanges.size(), 1u);
    ExpectWireRequest(exchanges[0], sent);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryPhaseAndFile, UploadFaultTable,
    ::testing::Values(  // the certificates have a table of their own (see the file's head)
        FaultCase{"Clean"},
        Phase("ConnectionRefused", Misbehaviour::kRefuse, QUOREL_SPEECH_BEGIN_FAILED,
              Kept::kEarlierAnswer),
        Phase("HandshakeFails", Misbehaviour::kFailHandshake, QUOREL_SPEECH_BEGIN_FAILED,
              Kept::kEarlierAnswer),
        Phase("HandshakeStalls", Misbehaviour::kStallHandshake, QUOREL_SPEECH_BEGIN_FAILED,
              Kept::kEarlierAnswer),
        ResetBefore("ResetAfterTheHeader", 0, 0, QUOREL_SPEECH_HEAD_SEND_FAILED),
        ResetBefore("ResetInTheHead", kFirstFileWrite, kHeadLength / 2,
                    QUOREL_SPEECH_AUDIO_SEND_FAILED),
        ResetBefore("ResetInTheFile", kSecondFileWrite, kHeadLength + 1024,
                    QUOREL_SPEECH_AUDIO_SEND_FAILED),
        ResetBefore("ResetBeforeTheTail", kTailWrite, kHeadLength + kFileLength,
                    QUOREL_SPEECH_TAIL_SEND_FAILED),
        StallInTheFile(), EarlyAnswer("EarlyExpectationFailed", "417 Expectation Failed"),
        EarlyAnswer("EarlyTooLarge", "413 Payload Too Large"),
        Phase("InterimAnswerThenClosed", Misbehaviour::kContinueThenClose, QUOREL_SPEECH_NO_ANSWER,
              Kept::kNoAnswer),
        Phase("ClosedBeforeTheAnswer", Misbehaviour::kNoAnswer, QUOREL_SPEECH_NO_ANSWER,
              Kept::kNoAnswer),
        Phase("AnswerNeverStarts", Misbehaviour::kStallAnswer, QUOREL_SPEECH_NO_ANSWER,
              Kept::kNoAnswer),
        Phase("ResetInTheAnswer", Misbehaviour::kCutAnswer, QUOREL_SPEECH_NO_ANSWER,
              Kept::kHalfAnswer),
        Phase("StallInTheAnswer", Misbehaviour::kStallInAnswer, QUOREL_SPEECH_NO_ANSWER,
              Kept::kHalfAnswer),
        Audio("AudioShrinks", AudioFault::kShrinks, QUOREL_SPEECH_AUDIO_READ_FAILED,
              Kept::kEarlierAnswer),
        Audio("AudioGrows", AudioFault::kGrows, QUOREL_SUCCESS, Kept::kWholeAnswer)),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quorel::test
