// The upload and its exchange against the test servers of support/tls/server_catalogue.h, the
// same cases on both systems (GoogleTest on Linux, the Wine runner on Windows): long answers
// of every framing stored whole, an interim answer passed over, an early answer kept with the
// code of the failed send, the bound on the whole call, and each failure code from its cause.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VantrelQuorelSpeech.h"
#include "support/portable/case_list.h"
#include "support/portable/scratch_folder.h"
#include "support/portable/wire_request.h"
#include "upload/case_server.h"
#include "upload/upload_transaction.h"
#include "upload/write_checkpoint.h"

namespace {

using namespace quorel;
using namespace quorel::test;
using Path = std::filesystem::path;

constexpr char kEarlierAnswer[] = "an earlier answer";
constexpr char kDefaultAnswer[] = "{\"result\":[]}\n";

std::string ReadWhole(const Path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "<missing>";
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void WriteWhole(const Path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

CaseUpload quorel::test::UploadTo(const char* server, const std::string& file,
                                  const std::string& earlierAnswer, bool acceptMismatchedNames) {
  return UploadTo(CaseServer(server), file, earlierAnswer, acceptMismatchedNames);
}

CaseUpload quorel::test::UploadTo(const CaseServer& served, const std::string& file,
                                  const std::string& earlierAnswer, bool acceptMismatchedNames) {
  const ScratchFolder folder;
  const Path audio = Path(folder.Root()) / "audio.wav";
  const Path answer = Path(folder.Root()) / "answer.json";
  WriteWhole(audio, file);
  if (!earlierAnswer.empty()) WriteWhole(answer, earlierAnswer);
  const int32_t result =
      UploadSpeech(served.Endpoint(acceptMismatchedNames), audio.u16string().c_str(), u"key",
                   answer.u16string().c_str());
  return {result, ReadWhole(answer)};
}

QUOREL_CASE(UploadAnswer, LongAnswersAreStoredWholeWhateverTheirFraming) {
  const CaseUpload chunked = UploadTo("LONG_CHUNKED", "audio");
  CHECK_EQ(chunked.result, QUOREL_SUCCESS);
  CHECK(chunked.answer == std::string(10000, 'a'));
  const CaseUpload untilClose = UploadTo("UNTIL_CLOSE", "audio");
  CHECK_EQ(untilClose.result, QUOREL_SUCCESS);
  CHECK(untilClose.answer == std::string(5000, 'a'));
}

QUOREL_CASE(UploadAnswer, AnInterimAnswerIsPassedOver) {
  const CaseUpload upload = UploadTo("CONTINUE", PatternedBytes(5000));
  CHECK_EQ(upload.result, QUOREL_SUCCESS);
  CHECK_EQ(upload.answer, kDefaultAnswer);
}

// The server answers after the head and a chunk, then reads no more: the audio cannot go out.
QUOREL_CASE(UploadAnswer, AnEarlyAnswerIsStoredWithTheCodeOfTheFailedSend) {
  const std::string file = PatternedBytes(16 << 20);
  for (const char* server : {"EARLY_417", "EARLY_413"}) {
    const CaseUpload upload = UploadTo(server, file, kEarlierAnswer);
    CHECK_EQ(upload.result, QUOREL_SPEECH_AUDIO_SEND_FAILED);
    CHECK(upload.answer == std::string(40000, 'a'));
  }
}

// The server closes a kept-alive connection once it has been idle for 0.3 s, with TLS's close
// notice and a FIN or with the FIN alone, and the next call comes a second after the last. A
// client that pools connections must not count the closed one's loss against the call: each
// call succeeds, and the server sees each call's request once, whole.
QUOREL_CASE(UploadAnswer, AKeptAliveConnectionClosedByTheServerFailsNoCall) {
  const std::string file = PatternedBytes(5000);
  for (const char* name : {"KEEP_ALIVE_CLOSE_NOTIFY", "KEEP_ALIVE_FIN"}) {
    const CaseServer server(name);
    for (int call = 0; call < 2; ++call) {
      if (call > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
      const CaseUpload upload = UploadTo(server, file);
      CHECK_EQ(upload.result, QUOREL_SUCCESS);
      CHECK_EQ(upload.answer, kDefaultAnswer);
    }
    const std::vector<std::string> requests = server.RequestsSince(2);
    CHECK_EQ(requests.size(), size_t{2});
    for (const std::string& request : requests)
      CHECK_NO_FAULTS(WireRequestFaults(request, file, "key"));
  }
}

QUOREL_CASE(UploadAnswer, AnEmptyAnswerEmptiesAnEarlierResponseFile) {
  const CaseUpload upload = UploadTo("EMPTY", "audio", kEarlierAnswer);
  CHECK_EQ(upload.result, QUOREL_SUCCESS);
  CHECK_EQ(upload.answer, "");
}

QUOREL_CASE(UploadAnswer, AnErrorPageIsStoredLikeAnyAnswer) {
  const CaseUpload upload = UploadTo("ERROR_PAGE", "audio");
  CHECK_EQ(upload.result, QUOREL_SUCCESS);
  CHECK_EQ(upload.answer, kDefaultAnswer);
}

QUOREL_CASE(UploadAnswer, AResponseFileThatCannotBeCreatedReturns11) {
  const CaseServer server("ERROR_PAGE");
  const ScratchFolder folder;
  const Path audio = Path(folder.Root()) / "audio.wav";
  WriteWhole(audio, "audio");
  const Path answer = Path(folder.Root()) / "missing" / "answer.json";
  CHECK_EQ(UploadSpeech(server.Endpoint(), audio.u16string().c_str(), u"key",
                        answer.u16string().c_str()),
           QUOREL_SPEECH_RESPONSE_WRITE_FAILED);
}

// A byte of the answer just within every stall limit: the bound on the whole call (about 9 s
// for this body and the cases' limits) ends it, and what arrived is kept.
QUOREL_CASE(UploadFailure, AnAnswerTrickledWithinEachStallLimitIsCutByTheWholeCallBound) {
  const CaseUpload upload = UploadTo("TRICKLE", "audio");
  CHECK_EQ(upload.result, QUOREL_SPEECH_NO_ANSWER);
  CHECK(!upload.answer.empty() && upload.answer == std::string(upload.answer.size(), 'a'));
}

// Not a stalled handshake: Wine's WinINet applies no timeout to it and waits for the server.
QUOREL_CASE(UploadFailure, ConnectionAndHandshakeFailuresReturn5) {
  for (const char* server : {"REFUSE", "FAIL_HANDSHAKE"}) {
    const CaseUpload upload = UploadTo(server, "audio");
    CHECK_EQ(upload.result, QUOREL_SPEECH_BEGIN_FAILED);
    CHECK_EQ(upload.answer, "<missing>");
  }
}

// The connection was the call's own, so the request is not made again.
QUOREL_CASE(UploadFailure, AConnectionLostDuringTheBodyReturnsTheCodeOfTheSendingStep) {
  const CaseServer server("CLOSE_IN_REQUEST");
  const CaseUpload upload = UploadTo(server, PatternedBytes(4 * 1024 * 1024));
  CHECK(upload.result == QUOREL_SPEECH_HEAD_SEND_FAILED ||
        upload.result == QUOREL_SPEECH_AUDIO_SEND_FAILED ||
        upload.result == QUOREL_SPEECH_TAIL_SEND_FAILED);
  CHECK_EQ(upload.answer, "<missing>");
  CHECK_EQ(server.RequestsSince(1).size(), size_t{1});
}

QUOREL_CASE(UploadFailure, AHeaderSetUpFailureReturns4BeforeTheRequestGoesOut) {
  SetHeaderSetUpFails(true);
  const CaseUpload upload = UploadTo("ERROR_PAGE", "audio", kEarlierAnswer);
  SetHeaderSetUpFails(false);
  CHECK_EQ(upload.result, QUOREL_SPEECH_REQUEST_FAILED);
  CHECK_EQ(upload.answer, kEarlierAnswer);
}

// An interim "100 Continue" and a close is no answer either. Of an answer cut short of its
// Content-Length, the half that arrived is kept.
QUOREL_CASE(UploadFailure, NoCompleteAnswerReturns10) {
  const std::string half = std::string(kDefaultAnswer).substr(0, 7);
  const struct {
    const char* server;
    std::string kept;
  } cases[] = {{"NO_ANSWER", ""},
               {"CUT_ANSWER", half},
               {"STALL_ANSWER", ""},
               {"STALL_IN_ANSWER", half},
               {"CONTINUE_THEN_CLOSE", ""}};
  for (const auto& expected : cases) {
    const CaseUpload upload = UploadTo(expected.server, "audio");
    CHECK_EQ(upload.result, QUOREL_SPEECH_NO_ANSWER);
    CHECK_EQ(upload.answer, expected.kept);
  }
}

// The first of two chunks, then a close without the chunked coding's end: what arrived is kept,
// with the code the build's client can give (case_server.h).
QUOREL_CASE(UploadFailure, AChunkedAnswerCutBeforeItsLastChunkKeepsWhatArrived) {
  const CaseUpload upload = UploadTo("CUT_CHUNKED", "audio");
  CHECK_EQ(upload.result, kCutChunkedAnswerResult);
  CHECK_EQ(upload.answer, "aaaaa");
}

QUOREL_CASE(HttpExchange, TheBodyStaysWithinItsDeclaredLength) {
  const CaseServer server("EMPTY");
  HttpSession* session = HttpOpenSession("agent");
  HttpConnection* connection = HttpSetUpConnection(session, server.Endpoint());
  HttpRequest* request = HttpOpenRequest(connection, "POST", "/");
  REQUIRE(request != nullptr);
  CHECK(HttpAddHeaders(request, "Content-Type: text/plain\r\nboundary=--1"));
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
