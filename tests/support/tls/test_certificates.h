// Certificates for TLS tests, made fresh in a folder at test time so that no private key is
// ever stored with the sources: a test CA, leaves it signs for localhost (DNS localhost, IP
// 127.0.0.1) in and out of their validity dates or for another name, a self-signed leaf and a
// leaf from a second CA that nobody trusts.
#pragma once

#include <string>

namespace quorel::test {

struct CertificateFiles {
  std::string certificate;  // PEM
  std::string key;          // PEM, unencrypted
};

struct TestCertificates {
  std::string caFile;  // the test CA alone: the trust store a client is given
  CertificateFiles localhost;
  CertificateFiles wrongName;    // signed by the test CA for another host name
  CertificateFiles expired;      // localhost, validity ended yesterday
  CertificateFiles notYetValid;  // localhost, validity starts tomorrow
  CertificateFiles selfSigned;   // localhost, signed by its own key
  CertificateFiles otherCa;      // localhost, signed by an untrusted CA
};

// Writes the whole set into folder (which must exist); throws std::runtime_error on failure.
TestCertificates MakeTestCertificates(const std::string& folder);

}  // namespace quorel::test
