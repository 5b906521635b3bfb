#include "support/tls/test_certificates.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/x509v3.h>

#include <stdexcept>

#include "certificate_issuer.h"

namespace quorel::test {

namespace {

using service::Certificate;
using service::Key;

constexpr long kDay = 24 * 60 * 60;

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("making test certificates: ") + what);
}

struct Validity {
  long startOffset;  // seconds from now
  long endOffset;
};
constexpr Validity kCurrent{-kDay, 365 * kDay};

struct Authority {
  Key key;
  Certificate certificate;
  bool intermediate;  // sent by the server after the leaf
};

// Both halves of the ECDSA signature take all 32 bytes. Wine's crypt32 joins the two numbers
// as they are encoded and so fails a signature with a shorter one (about 1 in 128); issuing
// again draws a new signature.
bool HasFullLengthSignature(const X509* certificate) {
  const ASN1_BIT_STRING* signature = nullptr;
  X509_get0_signature(&signature, nullptr, certificate);
  const unsigned char* der = signature->data;
  ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &der, signature->length);
  Require(parsed != nullptr, "reading a signature");
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(parsed, &r, &s);
  const bool full = BN_num_bytes(r) == 32 && BN_num_bytes(s) == 32;
  ECDSA_SIG_free(parsed);
  return full;
}

// Issues a certificate for a new key; a null issuer makes it self-signed.
std::pair<Key, Certificate> Issue(const char* commonName, const Authority* issuer, bool isCa,
                                  const char* alternativeNames, Validity validity) {
  Key key = service::NewKey();
  Require(key != nullptr, "key generation");
  service::Extensions extensions = {
      {NID_basic_constraints, isCa ? "critical,CA:TRUE" : "CA:FALSE"},
      {NID_key_usage, isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature"},
      {NID_subject_key_identifier, "hash"}};
  if (issuer != nullptr) extensions.push_back({NID_authority_key_identifier, "keyid:always"});
  if (alternativeNames != nullptr) extensions.push_back({NID_subject_alt_name, alternativeNames});
  for (;;) {
    Certificate certificate = service::IssueCertificate(
        commonName, key.get(), issuer ? issuer->certificate.get() : nullptr,
        issuer ? issuer->key.get() : key.get(), validity.startOffset, validity.endOffset,
        extensions);
    Require(certificate != nullptr, commonName);
    if (HasFullLengthSignature(certificate.get())) return {std::move(key), std::move(certificate)};
  }
}

constexpr char kLocalhostNames[] = "DNS:localhost,IP:127.0.0.1";

// A root when issuer is null, else an intermediate CA under issuer.
Authority MakeAuthority(const char* commonName, const Authority* issuer = nullptr,
                        Validity validity = kCurrent) {
  auto [key, certificate] = Issue(commonName, issuer, true, nullptr, validity);
  return Authority{std::move(key), std::move(certificate), issuer != nullptr};
}

CertificateFiles WriteLeaf(const std::string& folder, const std::string& name,
                           const Authority* authority, const char* commonName,
                           const char* alternativeNames, Validity validity) {
  const auto [key, certificate] = Issue(commonName, authority, false, alternativeNames, validity);
  CertificateFiles files{folder + "/" + name + ".crt", folder + "/" + name + ".key"};
  if (authority != nullptr && authority->intermediate) {
    Require(service::WriteCertificateFile(files.certificate,
                                          {certificate.get(), authority->certificate.get()}),
            "writing certificates");
  } else {
    Require(service::WriteCertificateFile(files.certificate, {certificate.get()}),
            "writing certificates");
  }
  Require(service::WriteKeyFile(files.key, key.get()), "writing a key");
  return files;
}

}  // namespace

TestCertificates MakeTestCertificates(const std::string& folder) {
  constexpr Validity kEnded{-30 * kDay, -kDay};
  const Authority testCa = MakeAuthority("Quorel test CA");
  const Authority otherCa = MakeAuthority("Quorel untrusted CA");
  const Authority expiredCa = MakeAuthority("Quorel expired CA", nullptr, kEnded);
  const Authority intermediate = MakeAuthority("Quorel intermediate CA", &testCa);
  const Authority expiredIntermediate =
      MakeAuthority("Quorel expired intermediate CA", &testCa, kEnded);
  TestCertificates set;
  set.caFile = folder + "/test-ca.crt";
  Require(service::WriteCertificateFile(set.caFile,
                                        {testCa.certificate.get(), expiredCa.certificate.get()}),
          "writing certificates");
  set.localhost = WriteLeaf(folder, "localhost", &testCa, "localhost", kLocalhostNames, kCurrent);
  set.wrongName =
      WriteLeaf(folder, "wrong-name", &testCa, "service.invalid", "DNS:service.invalid", kCurrent);
  set.expired = WriteLeaf(folder, "expired", &testCa, "localhost", kLocalhostNames, kEnded);
  set.notYetValid =
      WriteLeaf(folder, "not-yet-valid", &testCa, "localhost", kLocalhostNames, {kDay, 30 * kDay});
  set.selfSigned =
      WriteLeaf(folder, "self-signed", nullptr, "localhost", kLocalhostNames, kCurrent);
  set.otherCa = WriteLeaf(folder, "other-ca", &otherCa, "localhost", kLocalhostNames, kCurrent);
  set.expiredUnderIntermediate = WriteLeaf(folder, "expired-under-intermediate", &intermediate,
                                           "localhost", kLocalhostNames, kEnded);
  set.expiredIntermediate = WriteLeaf(folder, "expired-intermediate", &expiredIntermediate,
                                      "localhost", kLocalhostNames, kCurrent);
  set.expiredRoot =
      WriteLeaf(folder, "expired-root", &expiredCa, "localhost", kLocalhostNames, kCurrent);
  return set;
}

}  // namespace quorel::test
