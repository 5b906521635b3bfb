// The certificate cases on Linux: a test server of this process for each upload.
#include "support/tls/tls_test_server.h"
#include "upload/certificate_upload.h"
#include "upload/upload_test_support.h"
#include "upload/upload_transaction.h"

namespace quorel::test {

CertificateUpload UploadToServerWith(const char* certificate, bool acceptMismatchedNames,
                                     const std::string& earlierAnswer) {
  // The set lies in one folder, beside the trust store.
  const std::string& caFile = Certificates().caFile;
  const std::string files = caFile.substr(0, caFile.rfind('/') + 1) + certificate;
  TlsServerOptions options;
  options.certificateFile = files + ".crt";
  options.keyFile = files + ".key";
  const TlsTestServer server(options);
  const std::string audio = ScratchPath("certificate-audio.wav");
  const std::string response = ScratchPath("certificate-response.json");
  WriteFile(audio, "audio");
  WriteFile(response, earlierAnswer);
  const int32_t result = UploadSpeech(TestEndpoint(server.Port(), acceptMismatchedNames),
                                      Utf16(audio).c_str(), u"KEY", Utf16(response).c_str());
  return {result, ReadFile(response)};
}

}  // namespace quorel::test
