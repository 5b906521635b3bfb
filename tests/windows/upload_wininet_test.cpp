// The shared upload over the WinINet exchange against the script's test TLS servers: the chain
// check, one connection per call, the exchange's own wait for the answer near its deadline, and
// what WinINet alone does (an early answer from a server that reads on). The cases both systems
// share are tests/upload/upload_cases.cpp and certificate_cases.cpp.
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
#include "platform/http/wininet/bounded_call.h"
#include "platform/http/wininet/certificate_chain.h"
#include "support/portable/case_list.h"
#include "upload/case_server.h"
#include "wire_checks.h"

namespace {

using namespace quorel;
using namespace quorel::test;

// The backend's verdict on the chain that the system builds for a certificate file of the
// script's folder (QUOREL_CERTIFICATES): the leaf, then the intermediate a server would send.
bool ChainTrusted(const wchar_t* file) {
  const auto certificates =
      ReadPemCertificates(EnvironmentText("QUOREL_CERTIFICATES") + L"\\" + file);
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
  const bool verdict = TrustedOverlookingLeafDates(chain);
  if (chain != nullptr) CertFreeCertificateChain(chain);
  if (leaf != nullptr) CertFreeCertificateContext(leaf);
  CertCloseStore(sent, 0);
  return verdict;
}

}  // namespace

// The chain check alone, on chains the system builds here; the uploads show it in the
// exchange.
QUOREL_CASE(UploadCertificate, OnlyALeafMayBeOutOfItsDatesInATrustedChain) {
  CHECK(ChainTrusted(L"localhost.crt"));
  CHECK(ChainTrusted(L"expired.crt"));
  CHECK(ChainTrusted(L"not-yet-valid.crt"));
  CHECK(ChainTrusted(L"expired-under-intermediate.crt"));
  CHECK(!ChainTrusted(L"expired-intermediate.crt"));
  CHECK(!ChainTrusted(L"expired-root.crt"));
  CHECK(!ChainTrusted(L"other-ca.crt"));
  CHECK(!ChainTrusted(L"self-signed.crt"));
}

// The server answers right after the request's head, with or without "100 Continue" first,
// and reads on whatever comes. WinINet reads nothing while the body goes out, so the body goes
// out whole and the answer is read after it: stored whole, at once, the request sent once.
// (Not 40 MB here: WinINet sends all of it, at Wine's pace of a few MB/s, which shows nothing
// that 3 MB does not.)
QUOREL_CASE(UploadAnswer, AnEarlyAnswerFromAServerThatReadsOnIsStoredWholeAtOnce) {
  for (const char* server :
       {"READING_417", "READING_417_CONTINUE", "READING_413", "READING_413_CONTINUE"}) {
    for (size_t size : {size_t{20000}, size_t{3} << 20}) {
      const ULONGLONG started = GetTickCount64();
      const CaseUpload upload = UploadTo(server, PatternedBytes(size), "an earlier answer");
      const ULONGLONG tookMs = GetTickCount64() - started;
      std::printf("  %s, %zu bytes: %d in %llu ms, %zu stored\n", server, size, upload.result,
                  tookMs, upload.answer.size());
      CHECK(tookMs < 5000);
      CHECK_EQ(upload.result, QUOREL_SUCCESS);
      CHECK(upload.answer == std::string(40000, 'a'));
    }
  }
}

// The servers record each connection's request when it ends. A call makes one TLS connection,
// and a chain refused once the head is out gets none of the body.
QUOREL_CASE(UploadCertificate, OneConnectionPerCallAndNoBodyAfterARefusedChain) {
  const RecordedRequests accepted("EXPIRED");
  const size_t acceptedBefore = accepted.Count();
  CHECK_EQ(UploadTo("EXPIRED", "audio").result, QUOREL_SUCCESS);
  CHECK(accepted.Wait(acceptedBefore + 1) != "<none>");
  CHECK_EQ(accepted.Count(), acceptedBefore + 1);

  const RecordedRequests refused("EXPIRED_INTERMEDIATE");
  const size_t refusedBefore = refused.Count();
  CHECK_EQ(UploadTo("EXPIRED_INTERMEDIATE", "audio").result, QUOREL_SPEECH_BEGIN_FAILED);
  const std::string request = refused.Wait(refusedBefore + 1, false);
  const size_t headEnd = request.find("\r\n\r\n");
  CHECK(headEnd != std::string::npos && headEnd + 4 == request.size());
  CHECK_EQ(refused.Count(), refusedBefore + 1);
}

// A request to the named test server, over TLS, on handles of its own; closed in reverse order.
struct OwnRequest {
  HINTERNET session = InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection;
  HINTERNET request;
  explicit OwnRequest(const char* server)
      : connection(InternetConnectW(session, L"localhost", ServerPort(server), L"", L"",
                                    INTERNET_SERVICE_HTTP, 0, 0)),
        request(HttpOpenRequestW(connection, L"POST", L"/", nullptr, nullptr, nullptr,
                                 INTERNET_FLAG_SECURE, 0)) {}
  ~OwnRequest() {
    CHECK(InternetCloseHandle(request));
    CHECK(InternetCloseHandle(connection));
    CHECK(InternetCloseHandle(session));
  }
};

// Near the whole call's deadline the exchange's blocking calls run on a thread of their own:
// a call that its limit ends is over then, not when the server next moves, and the request's
// handles close at once while that thread still waits. The answer's next byte comes 1.4 s
// later here; the early answer's server reads no more after the first 1120 bytes of the body.
QUOREL_CASE(UploadFailure, ACallNearTheDeadlineEndsAtItsOwnLimitNotWhenTheServerMoves) {
  {
    const OwnRequest own("TRICKLE");
    char body[] = "audio";
    CHECK(HttpSendRequestW(own.request, nullptr, 0, body, 5));
    DWORD available = 0;
    CHECK(QueryDataAvailableWithin(own.request, 5000, &available) == CallOutcome::kSucceeded);
    CHECK(available >= 1);
    char byte = 0;
    DWORD got = 0;
    CHECK(InternetReadFile(own.request, &byte, 1, &got) && got == 1 && byte == 'a');
    CHECK(QueryDataAvailableWithin(own.request, 200, &available) == CallOutcome::kTimedOut);
  }
  {
    const OwnRequest own("EARLY_417");
    INTERNET_BUFFERSW begin{};
    begin.dwStructSize = sizeof begin;
    begin.dwBufferTotal = 1u << 30;
    CHECK(HttpSendRequestExW(own.request, &begin, nullptr, 0, 0));
    const std::string piece(64 * 1024, 'x');
    CallOutcome outcome = CallOutcome::kSucceeded;
    for (int i = 0; i < 1024 && outcome == CallOutcome::kSucceeded; ++i) {
      outcome = WriteWithin(own.request, piece.data(), static_cast<uint32_t>(piece.size()), 1000);
    }
    CHECK(outcome == CallOutcome::kTimedOut);
  }
}
