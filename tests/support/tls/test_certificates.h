// Certificates for TLS tests, made fresh in a folder at test time so that no private key is
// ever stored with the sources: a test CA, leaves it signs for localhost (DNS localhost, IP
// 127.0.0.1) in and out of their validity dates or for another name, leaves under intermediate
// CAs in and out of theirs, a leaf of a trusted but expired root, a self-signed leaf and a leaf
// from a second CA that nobody trusts. A leaf under an intermediate comes with it in its file,
// as a server sends the chain.
#pragma once

#include <string>

namespace quorel::test {

struct CertificateFiles {
  std::string certificate;  // PEM
  std::string key;          // PEM, unencrypted
};

struct TestCertificates {
  std::string caFile;  // the trust store a client is given: the test CA and the expired root
  CertificateFiles localhost;
  CertificateFiles wrongName;                 // signed by the test CA for another host name
  CertificateFiles expired;                   // localhost, validity ended yesterday
  CertificateFiles notYetValid;               // localhost, validity starts tomorrow
  CertificateFiles selfSigned;                // localhost, signed by its own key
  CertificateFiles otherCa;                   // localhost, signed by an untrusted CA
  CertificateFiles expiredUnderIntermediate;  // localhost, expired, under a valid intermediate
  CertificateFiles expiredIntermediate;       // localhost, under an intermediate that expired
  CertificateFiles expiredRoot;               // localhost, signed by the expired trusted root
};

// Writes the whole set into folder (which must exist); throws std::runtime_error on failure.
TestCertificates MakeTestCertificates(const std::string& folder);

}  // namespace quorel::test
