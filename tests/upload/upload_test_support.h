// What the upload tests share: a scratch folder with freshly made certificates, files in it,
// test servers and endpoints for them; support/portable/wire_request.h takes recorded requests
// apart.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/http_exchange.h"
#include "support/common/test_process.h"
#include "support/portable/file_bytes.h"
#include "support/portable/wire_request.h"
#include "support/tls/test_certificates.h"
#include "support/tls/tls_test_server.h"

namespace quorel::test {

// The certificate set, made on first use in the scratch folder of this test process.
const TestCertificates& Certificates();

std::string ScratchPath(const std::string& name);

// The test server on localhost, trusted through the test CA, with short waits so that the
// stall cases stay quick.
constexpr uint32_t kTestTimeoutMs = 1000;
HttpEndpoint TestEndpoint(uint16_t port);

// A test server; one with the localhost certificate unless options name another.
std::unique_ptr<TlsTestServer> Serve(TlsServerOptions options = {});

}  // namespace quorel::test
