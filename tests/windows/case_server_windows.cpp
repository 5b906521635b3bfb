#include "upload/case_server.h"
#include "wire_checks.h"

namespace quorel::test {

struct CaseServer::State {
  uint16_t port;
};

CaseServer::CaseServer(const char* name)
    : state_(std::make_unique<State>(State{ServerPort(name)})) {}

CaseServer::~CaseServer() = default;

// WinINet trusts the system's Root store, where the script put the test authority.
HttpEndpoint CaseServer::Endpoint(bool acceptMismatchedNames) const {
  return HttpEndpoint{u"localhost",          state_->port,          "",
                      acceptMismatchedNames, kCaseConnectTimeoutMs, kCaseStallTimeoutMs};
}

}  // namespace quorel::test
