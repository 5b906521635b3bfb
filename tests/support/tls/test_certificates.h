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

// The files are named after what they hold: localhost.crt and .key, wrong-name (signed by the
// test CA for another host name), expired (ended yesterday), not-yet-valid (starts tomorrow),
// self-signed, other-ca (signed by an untrusted CA), expired-under-intermediate (under a valid
// intermediate), expired-intermediate (under an intermediate that expired) and expired-root
// (signed by the expired trusted root); all but wrong-name are for localhost.
struct TestCertificates {
  std::string caFile;  // the trust store a client is given: the test CA and the expired root
  CertificateFiles localhost;
  CertificateFiles otherCa;
};

// Writes the whole set into folder (which must exist); throws std::runtime_error on failure.
TestCertificates MakeTestCertificates(const std::string& folder);

}  // namespace quorel::test
