#include "support/tls/test_certificates.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <stdexcept>

namespace quorel::test {

namespace {

constexpr long kDay = 24 * 60 * 60;

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Certificate = std::unique_ptr<X509, CertificateDeleter>;

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("making test certificates: ") + what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "key generation");
  return key;
}

struct Validity {
  long startOffset;  // seconds from now
  long endOffset;
};
constexpr Validity kCurrent{-kDay, 365 * kDay};

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Require(extension != nullptr, value);
  Require(X509_add_ext(certificate, extension, -1) == 1, "adding an extension");
  X509_EXTENSION_free(extension);
}

// Both halves of the ECDSA signature take all 32 bytes. Wine's crypt32 joins the two numbers
// as they are encoded and so fails a signature with a shorter one (about 1 in 128); signing
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

// Issues a certificate for subject's key; a null issuer makes it self-signed.
Certificate Issue(const char* commonName, EVP_PKEY* subjectKey, X509* issuer, EVP_PKEY* issuerKey,
                  bool isCa, const char* alternativeNames, Validity validity) {
  static long serial = 1;
  Certificate certificate(X509_new());
  X509* raw = certificate.get();
  Require(raw != nullptr && X509_set_version(raw, 2) == 1, "version");
  ASN1_INTEGER_set(X509_get_serialNumber(raw), serial++);
  X509_gmtime_adj(X509_getm_notBefore(raw), validity.startOffset);
  X509_gmtime_adj(X509_getm_notAfter(raw), validity.endOffset);
  X509_NAME* name = X509_get_subject_name(raw);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Quorel test"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509* signer = issuer == nullptr ? raw : issuer;
  Require(X509_set_issuer_name(raw, X509_get_subject_name(signer)) == 1, "issuer");
  Require(X509_set_pubkey(raw, subjectKey) == 1, "public key");
  AddExtension(raw, signer, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "CA:FALSE");
  AddExtension(raw, signer, NID_key_usage,
               isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  AddExtension(raw, signer, NID_subject_key_identifier, "hash");
  if (issuer != nullptr) AddExtension(raw, signer, NID_authority_key_identifier, "keyid:always");
  if (alternativeNames != nullptr)
    AddExtension(raw, signer, NID_subject_alt_name, alternativeNames);
  EVP_PKEY* signingKey = issuerKey == nullptr ? subjectKey : issuerKey;
  do {
    Require(X509_sign(raw, signingKey, EVP_sha256()) > 0, "sign");
  } while (!HasFullLengthSignature(raw));
  return certificate;
}

// One file of PEM certificates, in the order given.
void WriteCertificates(const std::string& path, std::initializer_list<X509*> certificates) {
  FILE* file = std::fopen(path.c_str(), "w");
  Require(file != nullptr, "opening a certificate file");
  bool written = true;
  for (X509* certificate : certificates) {
    written = written && PEM_write_X509(file, certificate) == 1;
  }
  Require(std::fclose(file) == 0 && written, "writing a certificate");
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  Require(file != nullptr, "opening a key file");
  const bool written = PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  Require(std::fclose(file) == 0 && written, "writing a key");
}

constexpr char kLocalhostNames[] = "DNS:localhost,IP:127.0.0.1";

struct Authority {
  Key key;
  Certificate certificate;
  bool intermediate;  // sent by the server after the leaf
};

// A root when issuer is null, else an intermediate CA under issuer.
Authority MakeAuthority(const char* commonName, const Authority* issuer = nullptr,
                        Validity validity = kCurrent) {
  Key key = NewKey();
  Certificate certificate =
      issuer == nullptr ? Issue(commonName, key.get(), nullptr, nullptr, true, nullptr, validity)
                        : Issue(commonName, key.get(), issuer->certificate.get(), issuer->key.get(),
                                true, nullptr, validity);
  return Authority{std::move(key), std::move(certificate), issuer != nullptr};
}

CertificateFiles WriteLeaf(const std::string& folder, const std::string& name,
                           const Authority* authority, const char* commonName,
                           const char* alternativeNames, Validity validity) {
  Key key = NewKey();
  Certificate certificate =
      authority == nullptr
          ? Issue(commonName, key.get(), nullptr, nullptr, false, alternativeNames, validity)
          : Issue(commonName, key.get(), authority->certificate.get(), authority->key.get(), false,
                  alternativeNames, validity);
  CertificateFiles files{folder + "/" + name + ".crt", folder + "/" + name + ".key"};
  if (authority != nullptr && authority->intermediate) {
    WriteCertificates(files.certificate, {certificate.get(), authority->certificate.get()});
  } else {
    WriteCertificates(files.certificate, {certificate.get()});
  }
  WriteKey(files.key, key.get());
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
  WriteCertificates(set.caFile, {testCa.certificate.get(), expiredCa.certificate.get()});
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
