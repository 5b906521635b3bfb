// What the upload tests share: a scratch folder with freshly made certificates, files in it,
// test servers and endpoints for them (support/portable/wire_request.h takes recorded requests
// apart), and the fixture of the tests against the test server: every case must leave exactly
// the descriptors open that were open before it.
#pragma once

#include <gtest/gtest.h>

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

class UploadTest : public ::testing::Test {
 protected:
  // One upload first, so that what libcurl and OpenSSL open once per process is open already.
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Uploads the file at audioPath to the server; the answer goes to ResponsePath().
  static int32_t Upload(const TlsTestServer& server, const std::string& audioPath,
                        const std::string& key = "KEY");
  static std::string ResponsePath() { return ScratchPath("response.json"); }

 private:
  size_t descriptorsBefore_ = 0;
};

// The request line, header lines 1 to 6 once each with the block's values and nothing else
// (line 7 may be left out), and a body of exactly head + file + tail with that length declared.
void ExpectWireRequest(const RecordedExchange& exchange, const std::string& fileBytes,
                       const std::string& keyInTarget = "KEY");

}  // namespace quorel::test
