#include <stdexcept>
#include <string>

#include "support/tls/server_catalogue.h"
#include "upload/case_server.h"
#include "upload/upload_test_support.h"

namespace quorel::test {

struct CaseServer::State {
  std::unique_ptr<TlsTestServer> server;
};

CaseServer::CaseServer(const char* name) : state_(std::make_unique<State>()) {
  const CatalogueServer* entry = FindCatalogueServer(name);
  if (entry == nullptr) throw std::runtime_error(std::string("no catalogue server ") + name);
  TlsServerOptions options = entry->options;
  options.certificateFile = Certificates().localhost.certificate;
  options.keyFile = Certificates().localhost.key;
  state_->server = std::make_unique<TlsTestServer>(options);
}

CaseServer::~CaseServer() = default;

HttpEndpoint CaseServer::Endpoint(bool acceptMismatchedNames) const {
  return HttpEndpoint{u"localhost",          state_->server->Port(), Certificates().caFile.c_str(),
                      acceptMismatchedNames, kCaseConnectTimeoutMs,  kCaseStallTimeoutMs};
}

}  // namespace quorel::test
