#include <cctype>
#include <string>

#include "VantrelQuorelSpeech.h"
#include "support/tls/server_catalogue.h"
#include "upload/case_server.h"
#include "upload/upload_fixture.h"

namespace quorel::test {

const int32_t kCutChunkedAnswerResult = QUOREL_SPEECH_NO_ANSWER;

struct CaseServer::State {
  std::unique_ptr<TlsTestServer> server;
};

std::vector<std::string> CaseServer::RequestsSince(size_t count) const {
  std::vector<std::string> requests;
  for (const RecordedExchange& exchange : state_->server->WaitForExchanges(count, 30000)) {
    requests.push_back(exchange.request);
  }
  return requests;
}

CaseServer::CaseServer(const char* name) : state_(std::make_unique<State>()) {
  const CatalogueServer* entry = FindCatalogueServer(name);
  TlsServerOptions options = entry != nullptr ? entry->options : TlsServerOptions{};
  // The certificate set lies in one folder, beside the trust store.
  std::string certificate = entry != nullptr ? "localhost" : name;
  for (char& c : certificate) c = c == '_' ? '-' : static_cast<char>(std::tolower(c));
  const std::string& caFile = Certificates().caFile;
  const std::string files = caFile.substr(0, caFile.rfind('/') + 1) + certificate;
  options.certificateFile = files + ".crt";
  options.keyFile = files + ".key";
  state_->server = std::make_unique<TlsTestServer>(options);
}

CaseServer::~CaseServer() = default;

HttpEndpoint CaseServer::Endpoint(bool acceptMismatchedNames) const {
  return HttpEndpoint{u"localhost",          state_->server->Port(), Certificates().caFile.c_str(),
                      acceptMismatchedNames, kCaseConnectTimeoutMs,  kCaseStallTimeoutMs};
}

}  // namespace quorel::test
