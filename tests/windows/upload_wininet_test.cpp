// The shared upload over the WinINet exchange, and that exchange alone, against the script's test
// TLS servers, each started with one certificate, answer or misbehaviour: the answer stored whole,
// the certificate cases Wine can show, and each failure code from its real cause.
#include <string>

#include "VantrelQuorelSpeech.h"
#include "harness.h"
#include "temp_folder.h"
#include "upload/upload_transaction.h"
#include "upload/write_checkpoint.h"
#include "wire_checks.h"

namespace {

using namespace quorel;
using namespace quorel::test;

constexpr uint32_t kTestConnectTimeoutMs = 5000;
constexpr uint32_t kTestStallTimeoutMs = 2000;

struct Upload {
  int32_t result;
  std::string answer;  // the response file afterwards, "<missing>" when there is none
};

Upload UploadTo(const char* server, const std::string& file, bool acceptMismatchedNames = false,
                const std::string& earlierAnswer = "") {
  const HttpEndpoint endpoint{u"localhost",          ServerPort(server),    "",
                              acceptMismatchedNames, kTestConnectTimeoutMs, kTestStallTimeoutMs};
  TempFolder folder;
  const std::wstring audio = folder.Path(L"audio.wav");
  const std::wstring answer = folder.Path(L"answer.json");
  WriteWholeFile(audio, file);
  if (!earlierAnswer.empty()) WriteWholeFile(answer, earlierAnswer);
  Upload upload;
  upload.result = UploadSpeech(endpoint, folder.Utf16(audio), u"key", folder.Utf16(answer));
  upload.answer = ReadWholeFile(answer);
  return upload;
}

}  // namespace

QUOREL_CASE(UploadAnswer, LongAnswersAreStoredWholeWhateverTheirFraming) {
  const Upload chunked = UploadTo("LONG_CHUNKED", "audio");
  CHECK_EQ(chunked.result, QUOREL_SUCCESS);
  CHECK(chunked.answer == std::string(10000, 'a'));
  const Upload untilClose = UploadTo("UNTIL_CLOSE", "audio");
  CHECK_EQ(untilClose.result, QUOREL_SUCCESS);
  CHECK(untilClose.answer == std::string(5000, 'a'));
}

QUOREL_CASE(UploadAnswer, AnInterimAnswerIsPassedOver) {
  const Upload upload = UploadTo("CONTINUE", PatternedBytes(5000));
  CHECK_EQ(upload.result, QUOREL_SUCCESS);
  CHECK_EQ(upload.answer, "{\"result\":[]}\n");
}

// The server answers after the head and a chunk, then reads no more: the audio cannot go out.
QUOREL_CASE(UploadAnswer, AnEarlyAnswerIsStoredWithTheCodeOfTheFailedSend) {
  const std::string file = PatternedBytes(16 << 20);
  for (const char* server : {"EARLY_417", "EARLY_413"}) {
    const Upload upload = UploadTo(server, file, false, "an earlier answer");
    CHECK_EQ(upload.result, QUOREL_SPEECH_AUDIO_SEND_FAILED);
    CHECK(upload.answer == std::string(40000, 'a'));
  }
}

QUOREL_CASE(UploadAnswer, AnEmptyAnswerEmptiesAnEarlierResponseFile) {
  const Upload upload = UploadTo("EMPTY", "audio", false, "an earlier answer");
  CHECK_EQ(upload.result, QUOREL_SUCCESS);
  CHECK_EQ(upload.answer, "");
}

QUOREL_CASE(UploadAnswer, AnErrorPageIsStoredLikeAnyAnswer) {
  const Upload upload = UploadTo("ERROR_PAGE", "audio");
  CHECK_EQ(upload.result, QUOREL_SUCCESS);
  CHECK_EQ(upload.answer, "{\"result\":[]}\n");
}

QUOREL_CASE(UploadAnswer, AResponseFileThatCannotBeCreatedReturns11) {
  const HttpEndpoint endpoint{u"localhost", ServerPort("ERROR_PAGE"), "",
                              false,        kTestConnectTimeoutMs,    kTestStallTimeoutMs};
  TempFolder folder;
  const std::wstring audio = folder.Path(L"audio.wav");
  WriteWholeFile(audio, "audio");
  const std::wstring answer = folder.Path(L"missing\\answer.json");
  CHECK_EQ(UploadSpeech(endpoint, folder.Utf16(audio), u"key", folder.Utf16(answer)),
           QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
}

QUOREL_CASE(UploadCertificate, OnlyANameMismatchIsForgivenAndOnlyWhenAsked) {
  CHECK_EQ(UploadTo("WRONG_NAME", "audio").result, QUOREL_SPEECH_BEGIN_FAILED);
  CHECK_EQ(UploadTo("WRONG_NAME", "audio", true).result, QUOREL_SUCCESS);
  // Under Wine an unknown authority fails with 12057 rather than 12045; either way, code 5.
  CHECK_EQ(UploadTo("OTHER_CA", "audio").result, QUOREL_SPEECH_BEGIN_FAILED);
  CHECK_EQ(UploadTo("SELF_SIGNED", "audio").result, QUOREL_SPEECH_BEGIN_FAILED);
  CHECK_EQ(UploadTo("SELF_SIGNED", "audio", true).result, QUOREL_SPEECH_BEGIN_FAILED);
}

QUOREL_CASE(UploadCertificate, ALeafOutsideItsValidityDatesIsAccepted) {
  const Upload expired = UploadTo("EXPIRED", "audio");
  CHECK_EQ(expired.result, QUOREL_SUCCESS);
  CHECK_EQ(expired.answer, "{\"result\":[]}\n");
  CHECK_EQ(UploadTo("NOT_YET_VALID", "audio").result, QUOREL_SUCCESS);
  CHECK_EQ(UploadTo("EXPIRED_UNDER_INTERMEDIATE", "audio").result, QUOREL_SUCCESS);
}

QUOREL_CASE(UploadCertificate, AnIssuerOutsideItsValidityDatesFails) {
  CHECK_EQ(UploadTo("EXPIRED_INTERMEDIATE", "audio").result, QUOREL_SPEECH_BEGIN_FAILED);
  CHECK_EQ(UploadTo("EXPIRED_ROOT", "audio").result, QUOREL_SPEECH_BEGIN_FAILED);
}

// Not a stalled handshake: Wine's WinINet applies no timeout to it and waits for the server.
QUOREL_CASE(UploadFailure, ConnectionAndHandshakeFailuresReturn5) {
  for (const char* server : {"REFUSE", "FAIL_HANDSHAKE"}) {
    const Upload upload = UploadTo(server, "audio");
    CHECK_EQ(upload.result, QUOREL_SPEECH_BEGIN_FAILED);
    CHECK_EQ(upload.answer, "<missing>");
  }
}

QUOREL_CASE(UploadFailure, AConnectionLostDuringTheBodyReturnsTheCodeOfTheSendingStep) {
  const Upload upload = UploadTo("CLOSE_IN_REQUEST", PatternedBytes(4 * 1024 * 1024));
  CHECK(upload.result == QUOREL_SPEECH_HEAD_SEND_FAILED ||
        upload.result == QUOREL_SPEECH_AUDIO_SEND_FAILED ||
        upload.result == QUOREL_SPEECH_TAIL_SEND_FAILED);
  CHECK_EQ(upload.answer, "<missing>");
}

QUOREL_CASE(UploadFailure, AHeaderSetUpFailureReturns4BeforeTheRequestGoesOut) {
  SetHeaderSetUpFails(true);
  const Upload upload = UploadTo("ERROR_PAGE", "audio", false, "an earlier answer");
  SetHeaderSetUpFails(false);
  CHECK_EQ(upload.result, QUOREL_SPEECH_REQUEST_FAILED);
  CHECK_EQ(upload.answer, "an earlier answer");
}

// An interim "100 Continue" and a close is no answer either.
QUOREL_CASE(UploadFailure, NoCompleteAnswerReturns10) {
  for (const char* server :
       {"NO_ANSWER", "CUT_ANSWER", "STALL_ANSWER", "STALL_IN_ANSWER", "CONTINUE_THEN_CLOSE"}) {
    CHECK_EQ(UploadTo(server, "audio").result, QUOREL_SPEECH_NO_ANSWER);
  }
}

QUOREL_CASE(HttpExchange, TheBodyStaysWithinItsDeclaredLength) {
  const HttpEndpoint endpoint{u"localhost", ServerPort("EMPTY"),   "",
                              false,        kTestConnectTimeoutMs, kTestStallTimeoutMs};
  HttpSession* session = HttpOpenSession(u"agent");
  HttpConnection* connection = HttpConnect(session, endpoint);
  HttpRequest* request = HttpOpenRequest(connection, "POST", "/");
  REQUIRE(request != nullptr);
  CHECK(HttpAddHeaders(request, u"Content-Type: text/plain\r\nboundary=--1"));
  REQUIRE(HttpBeginRequest(request, 10));
  CHECK(HttpWrite(request, "123456", 6));
  CHECK(HttpWrite(request, "", 0));
  CHECK(!HttpWrite(request, "78901", 5));  // one byte past the declared ten
  CHECK(!HttpEndRequest(request));         // six of ten: no answer can be waited for
  char answer[8];
  uint32_t count = 99;
  CHECK(HttpRead(request, answer, 0, &count) == HttpReadResult::kFailed);
  CHECK_EQ(count, 0u);
  HttpClose(request);
  HttpClose(connection);
  HttpClose(session);
}
