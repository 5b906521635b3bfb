// The test server of a shared upload case, by its name in support/tls/server_catalogue.h, and
// the endpoint the cases reach it through: on Linux a server of the case's own, in-process; on
// Windows the one scripts/test-windows.sh runs under that name.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/http_exchange.h"

namespace quorel::test {

constexpr uint32_t kCaseConnectTimeoutMs = 5000;
constexpr uint32_t kCaseStallTimeoutMs = 2000;

class CaseServer {
 public:
  explicit CaseServer(const char* name);
  ~CaseServer();
  CaseServer(const CaseServer&) = delete;
  CaseServer& operator=(const CaseServer&) = delete;

  // localhost at the server's port, trusting the test authority, with the cases' limits.
  HttpEndpoint Endpoint(bool acceptMismatchedNames = false) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorel::test
