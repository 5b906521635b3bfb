#include "certificate_issuer.h"

#include <openssl/bn.h>
#include <openssl/x509v3.h>

namespace quorel::service {

namespace {

constexpr int kSerialBits = 127;

bool SetRandomSerial(X509* certificate) {
  BIGNUM* serial = BN_new();
  const bool set = serial != nullptr && BN_rand(serial, kSerialBits, BN_RAND_TOP_ANY, 0) == 1 &&
                   BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate)) != nullptr;
  BN_free(serial);
  return set;
}

bool AddExtensions(X509* certificate, X509* issuer, const Extensions& extensions) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  for (const auto& [nid, value] : extensions) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    if (!added) return false;
  }
  return true;
}

}  // namespace

Key NewKey() {
  return Key(EVP_EC_gen("P-256"));
}

Certificate IssueCertificate(const char* commonName, EVP_PKEY* key, X509* issuer,
                             EVP_PKEY* issuerKey, long notBefore, long notAfter,
                             const Extensions& extensions) {
  Certificate certificate(X509_new());
  X509* raw = certificate.get();
  if (raw == nullptr || X509_set_version(raw, 2) != 1 || !SetRandomSerial(raw)) return nullptr;
  X509_gmtime_adj(X509_getm_notBefore(raw), notBefore);
  X509_gmtime_adj(X509_getm_notAfter(raw), notAfter);
  X509_NAME* subject = X509_get_subject_name(raw);
  const auto* name = reinterpret_cast<const unsigned char*>(commonName);
  if (X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, name, -1, -1, 0) != 1 ||
      X509_set_issuer_name(raw, issuer ? X509_get_subject_name(issuer) : subject) != 1 ||
      X509_set_pubkey(raw, key) != 1 || !AddExtensions(raw, issuer ? issuer : raw, extensions) ||
      X509_sign(raw, issuerKey, EVP_sha256()) <= 0) {
    return nullptr;
  }
  return certificate;
}

}  // namespace quorel::service
