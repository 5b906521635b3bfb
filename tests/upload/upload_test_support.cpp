#include "upload/upload_test_support.h"

#include "support/portable/scratch_folder.h"

namespace quorel::test {

namespace {

// Removed with everything in it when the test process ends.
const ScratchFolder& Scratch() {
  static const ScratchFolder scratch;
  return scratch;
}

}  // namespace

const TestCertificates& Certificates() {
  static const TestCertificates set = MakeTestCertificates(Scratch().Root());
  return set;
}

std::string ScratchPath(const std::string& name) {
  return Scratch().Path(name);
}

HttpEndpoint TestEndpoint(uint16_t port) {
  return HttpEndpoint{u"localhost", port,           Certificates().caFile.c_str(),
                      false,        kTestTimeoutMs, kTestTimeoutMs};
}

std::unique_ptr<TlsTestServer> Serve(TlsServerOptions options) {
  if (options.certificateFile.empty()) {
    options.certificateFile = Certificates().localhost.certificate;
    options.keyFile = Certificates().localhost.key;
  }
  return std::make_unique<TlsTestServer>(std::move(options));
}

}  // namespace quorel::test
