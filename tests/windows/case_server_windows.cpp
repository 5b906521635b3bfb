#include "VantrelQuorelSpeech.h"
#include "upload/case_server.h"
#include "wire_checks.h"

namespace quorel::test {

const int32_t kCutChunkedAnswerResult = QUOREL_SUCCESS;

struct CaseServer::State {
  uint16_t port;
  RecordedRequests records;
  size_t recordedBefore;
};

// The script's server of that name serves every case and both architectures' programs: only
// the requests recorded from now on are this object's.
CaseServer::CaseServer(const char* name)
    : state_(std::make_unique<State>(
          State{ServerPort(name), RecordedRequests(name), RecordedRequests(name).Count()})) {}

std::vector<std::string> CaseServer::RequestsSince(size_t count) const {
  std::vector<std::string> requests;
  size_t index = state_->recordedBefore;
  while (requests.size() < count || state_->records.Count() > index) {
    const std::string request = state_->records.Wait(++index, false);
    if (request == "<none>") break;
    requests.push_back(request);
  }
  return requests;
}

CaseServer::~CaseServer() = default;

// WinINet trusts the system's Root store, where the script put the test authority.
HttpEndpoint CaseServer::Endpoint(bool acceptMismatchedNames) const {
  return HttpEndpoint{u"localhost",          state_->port,          "",
                      acceptMismatchedNames, kCaseConnectTimeoutMs, kCaseStallTimeoutMs};
}

}  // namespace quorel::test
