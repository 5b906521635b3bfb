// The test servers of the upload cases both systems share, by name: the Linux runner starts
// them in-process, scripts/test-windows.sh as programs (quorel-tls-test-server --catalogue).
// Each is served with the localhost certificate.
#pragma once

#include <string>
#include <vector>

#include "support/tls/tls_test_server.h"

namespace quorel::test {

struct CatalogueServer {
  std::string name;
  TlsServerOptions options;  // without certificate and key
};

const std::vector<CatalogueServer>& ServerCatalogue();
// Null when the catalogue has no server of that name.
const CatalogueServer* FindCatalogueServer(const std::string& name);

}  // namespace quorel::test
