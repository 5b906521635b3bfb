#include "certificate_issuer.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

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

// Writes the PEM text through a temporary file renamed into place, so a reader never sees half.
bool WritePemFile(const std::string& path, mode_t mode, const std::function<bool(BIO*)>& writePem) {
  std::unique_ptr<BIO, Freeing<BIO_free>> memory(BIO_new(BIO_s_mem()));
  if (!memory || !writePem(memory.get())) return false;
  char* text = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &text);
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  const bool written = write(fd, text, length) == length && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (written && closed && rename(temporary.c_str(), path.c_str()) == 0) return true;
  const int reason = errno;
  unlink(temporary.c_str());
  errno = reason;
  return false;
}

}  // namespace

std::string OpenSslError() {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  if (error == 0) return "unknown error";
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return text;
}

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

bool WriteCertificateFile(const std::string& path, std::initializer_list<X509*> certificates) {
  return WritePemFile(path, 0644, [&](BIO* out) {
    for (X509* certificate : certificates) {
      if (PEM_write_bio_X509(out, certificate) != 1) return false;
    }
    return true;
  });
}

bool WriteKeyFile(const std::string& path, EVP_PKEY* key) {
  return WritePemFile(path, 0600, [&](BIO* out) {
    return PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
}

}  // namespace quorel::service
