// The test server of a shared upload case, by its name, and the endpoint the cases reach it
// through: on Linux a server of the case's own, in-process; on Windows the one
// scripts/test-windows.sh runs under that name. A name is one of support/tls/server_catalogue.h,
// served with the localhost certificate, or that of a certificate of the test set
// (support/tls/test_certificates.h) in capitals with '_' for '-' (EXPIRED_ROOT: expired-root.crt),
// served as it answers by default.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_exchange.h"

namespace quorel::test {

constexpr uint32_t kCaseConnectTimeoutMs = 5000;
constexpr uint32_t kCaseStallTimeoutMs = 2000;

class CaseServer {
 public:
  explicit CaseServer(const char* name);
  ~CaseServer();

  // localhost at the server's port, trusting the test authority, with the cases' limits.
  HttpEndpoint Endpoint(bool acceptMismatchedNames = false) const;
  // The requests the server has recorded since this object was made, as they arrived, once
  // count of them have come (fewer when they do not come within half a minute).
  std::vector<std::string> RequestsSince(size_t count) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The code for a chunked answer cut before its last chunk: 10 on Linux; 999 on Windows, where
// WinINet shows such a cut exactly as the chunked coding's end (README, Windows).
extern const int32_t kCutChunkedAnswerResult;

struct CaseUpload {
  int32_t result;
  std::string answer;  // the response file afterwards, "<missing>" when there is none
};

// Uploads file to the server of that name, the response file holding earlierAnswer before the
// call when it is not empty (upload_cases.cpp, which every program of these cases links).
CaseUpload UploadTo(const char* server, const std::string& file,
                    const std::string& earlierAnswer = "", bool acceptMismatchedNames = false);
// The same to a server that outlives the call.
CaseUpload UploadTo(const CaseServer& server, const std::string& file,
                    const std::string& earlierAnswer = "", bool acceptMismatchedNames = false);

}  // namespace quorel::test
