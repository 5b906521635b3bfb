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

// A root when issuer is null, else an intermediate CA under issuer.
Authority MakeAuthority(const char* commonName, const Authority* issuer = nullptr,
                        Validity validity = kCurrent) {
  auto [key, certificate] = Issue(commonName, issuer, true, nullptr, validity);
  return Authority{std::move(key), std::move(certificate), issuer != nullptr};
}

// Writes folder/name.crt and .key for a leaf for commonName, alone by that DNS name but for
// localhost, which 127.0.0.1 names too; with the intermediate after it when it has one.
CertificateFiles WriteLeaf(const std::string& folder, const std::string& name,
                           const Authority* authority, Validity validity,
                           const std::string& commonName = "localhost") {
  const std::string names =
      "DNS:" + commonName + (commonName == "localhost" ? ",IP:127.0.0.1" : "");
  const auto [key, certificate] =
      Issue(commonName.c_str(), authority, false, names.c_str(), validity);
  CertificateFiles files{folder + "/" + name + ".crt", folder + "/" + name + ".key"};
  const bool chained = authority != nullptr && authority->intermediate;
  Require(chained ? service::WriteCertificateFile(files.certificate,
                                                  {certificate.get(), authority->certificate.get()})
                  : service::WriteCertificateFile(files.certificate, {certificate.get()}),
          "writing certificates");
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
  set.localhost = WriteLeaf(folder, "localhost", &testCa, kCurrent);
  set.otherCa = WriteLeaf(folder, "other-ca", &otherCa, kCurrent);
  WriteLeaf(folder, "wrong-name", &testCa, kCurrent, "service.invalid");
  WriteLeaf(folder, "expired", &testCa, kEnded);
  WriteLeaf(folder, "not-yet-valid", &testCa, {kDay, 30 * kDay});
  WriteLeaf(folder, "self-signed", nullptr, kCurrent);
  WriteLeaf(folder, "expired-under-intermediate", &intermediate, kEnded);
  WriteLeaf(folder, "expired-intermediate", &expiredIntermediate, kCurrent);
  WriteLeaf(folder, "expired-root", &expiredCa, kCurrent);
  return set;
}

}  // namespace quorel::test
