// An upload to a test TLS server on localhost that presents one certificate of the test set
// (support/tls/test_certificates.h), for the certificate cases both systems share. Each system's
// suite reaches such a server its own way: on Linux one is started for the call, under Wine the
// script runs one per certificate.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::test {

struct CertificateUpload {
  int32_t result;
  std::string answer;  // the response file afterwards
};

// certificate is the file name of the set without ".crt" ("expired", "wrong-name"); the
// response file holds earlierAnswer before the call.
CertificateUpload UploadToServerWith(const char* certificate, bool acceptMismatchedNames,
                                     const std::string& earlierAnswer);

}  // namespace quorel::test
