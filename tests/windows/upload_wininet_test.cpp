// The shared upload over the WinINet exchange, and that exchange alone, against the script's test
// TLS servers, each started with one certificate, answer or misbehaviour: the answer stored whole,
// the certificate cases (as far as Wine can show them), and each failure code from its real cause.
#include <windows.h>
// After <windows.h>, whose types they use.
#include <wincrypt.h>
#include <wininet.h>

// WinINet maps these two names onto its A and W functions; here they are the exchange's own.
#undef HttpOpenRequest
#undef HttpEndRequest

#include <cstdio>
#include <string>

#include "VantrelQuorelSpeech.h"
#include "pem_certificates.h"
#include "platform/http/wininet/certificate_chain.h"
#include "support/portable/case_list.h"
#include "upload/upload_transaction.h"
#include "upload/write_checkpoint.h"
#include "wide_files.h"
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
  ScratchFolder folder;
  const std::wstring audio = folder.Path(L"audio.wav");
  const std::wstring answer = folder.Path(L"answer.json");
  WriteWholeFile(audio, file);
  if (!earlierAnswer.empty()) WriteWholeFile(answer, earlierAnswer);
  Upload upload;
  upload.result = UploadSpeech(endpoint, Utf16(audio), u"key", Utf16(answer));
  upload.answer = ReadWholeFile(answer);
  return upload;
}

// Whether WinINet still holds the server's certificate chain once a date error has failed a
// request, which is what the backend judges the leaf's dates by. Wine drops the chain with the
// failed connection (the query fails with ERROR_INTERNET_INCORRECT_HANDLE_STATE), so there no
// date is forgiven.
bool ChainReadableAfterADateError() {
  HINTERNET session = InternetOpenW(L"probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection = InternetConnectW(session, L"localhost", ServerPort("EXPIRED"), L"", L"",
                                          INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestW(connection, L"GET", L"/", nullptr, nullptr, nullptr,
                                       INTERNET_FLAG_SECURE, 0);
  bool readable = false;
  if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0) &&
      GetLastError() == ERROR_INTERNET_SEC_CERT_DATE_INVALID) {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD size = sizeof chain;
    readable =
        InternetQueryOptionW(request, INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &chain, &size) &&
        chain != nullptr;
    if (chain != nullptr) CertFreeCertificateChain(chain);
  }
  for (HINTERNET handle : {request, connection, session}) {
    if (handle != nullptr) InternetCloseHandle(handle);
  }
  return readable;
}

// The backend's verdict on the chain that the system builds for a certificate file of the
// script's folder (QUOREL_CERTIFICATES): the leaf, then the intermediate a server would send.
bool LeafAloneOutOfDate(const wchar_t* file) {
  wchar_t folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"QUOREL_CERTIFICATES", folder, MAX_PATH);
  const auto certificates =
      ReadPemCertificates(std::wstring(folder, length < MAX_PATH ? length : 0) + L"\\" + file);
  if (!CHECK(!certificates.empty())) return false;
  HCERTSTORE sent = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  for (size_t i = 1; i < certificates.size(); ++i) {
    CertAddEncodedCertificateToStore(sent, X509_ASN_ENCODING, certificates[i].data(),
                                     static_cast<DWORD>(certificates[i].size()),
                                     CERT_STORE_ADD_ALWAYS, nullptr);
  }
  PCCERT_CONTEXT leaf = CertCreateCertificateContext(X509_ASN_ENCODING, certificates[0].data(),
                                                     static_cast<DWORD>(certificates[0].size()));
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof parameters;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  CHECK(CertGetCertificateChain(nullptr, leaf, nullptr, sent, &parameters, 0, nullptr, &chain));
  const bool verdict = OnlyTheLeafIsOutOfDate(chain);
  if (chain != nullptr) CertFreeCertificateChain(chain);
  if (leaf != nullptr) CertFreeCertificateContext(leaf);
  CertCloseStore(sent, 0);
  return verdict;
}

}  // namespace

// Where WinINet keeps no chain after a date error (Wine), this is the only run of the verdict.
QUOREL_CASE(UploadCertificate, OnlyALeafOutOfItsDatesPassesTheChainCheck) {
  CHECK(LeafAloneOutOfDate(L"expired.crt"));
  CHECK(LeafAloneOutOfDate(L"not-yet-valid.crt"));
  CHECK(LeafAloneOutOfDate(L"expired-under-intermediate.crt"));
  CHECK(!LeafAloneOutOfDate(L"expired-intermediate.crt"));
  CHECK(!LeafAloneOutOfDate(L"expired-root.crt"));
  CHECK(!LeafAloneOutOfDate(L"other-ca.crt"));
  CHECK(!LeafAloneOutOfDate(L"localhost.crt"));  // no error to forgive
}

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
  ScratchFolder folder;
  const std::wstring audio = folder.Path(L"audio.wav");
  WriteWholeFile(audio, "audio");
  const std::wstring answer = folder.Path(L"missing\\answer.json");
  CHECK_EQ(UploadSpeech(endpoint, Utf16(audio), u"key", Utf16(answer)),
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

QUOREL_CASE(UploadCertificate, ALeafOutsideItsValidityDatesIsAcceptedWhereItsChainCanBeRead) {
  const bool readable = ChainReadableAfterADateError();
  if (!readable) std::printf("  note: no chain after a date error here (Wine): dates fail\n");
  const int32_t expected = readable ? QUOREL_SUCCESS : QUOREL_SPEECH_BEGIN_FAILED;
  const Upload expired = UploadTo("EXPIRED", "audio");
  CHECK_EQ(expired.result, expected);
  CHECK_EQ(expired.answer, readable ? "{\"result\":[]}\n" : "<missing>");
  CHECK_EQ(UploadTo("NOT_YET_VALID", "audio").result, expected);
  CHECK_EQ(UploadTo("EXPIRED_UNDER_INTERMEDIATE", "audio").result, expected);
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
  HttpSession* session = HttpOpenSession("agent");
  HttpConnection* connection = HttpSetUpConnection(session, endpoint);
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
