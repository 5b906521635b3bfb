// The fixture of the upload tests against the test server: every case must leave exactly the
// descriptors open that were open before it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/tls/tls_test_server.h"
#include "upload/upload_test_support.h"

namespace quorel::test {

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
