#include "certificates.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace quorel::service {

namespace {

constexpr long kSecondsPerDay = 86400;
constexpr long kAuthorityDays = 3650;
constexpr long kLocalhostDays = 825;  // the longest life clients accept for a server certificate
constexpr int kSerialBits = 127;

struct FreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeCertificate {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
using Certificate = std::unique_ptr<X509, FreeCertificate>;

using Extensions = std::vector<std::pair<int, const char*>>;

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

// A certificate for key named commonName, signed by issuerKey; issuer null makes it self-signed.
Certificate Issue(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                  long days, const Extensions& extensions) {
  Certificate certificate(X509_new());
  X509* raw = certificate.get();
  if (raw == nullptr || X509_set_version(raw, 2) != 1 || !SetRandomSerial(raw)) return nullptr;
  // An hour's grace for clocks that lag behind this one.
  X509_gmtime_adj(X509_getm_notBefore(raw), -3600);
  X509_gmtime_adj(X509_getm_notAfter(raw), days * kSecondsPerDay);
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

bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    if (mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Writes the PEM text through a temporary file renamed into place, so a reader never sees half.
template <typename WritePem>
bool WritePemFile(const std::string& path, mode_t mode, WritePem writePem) {
  std::unique_ptr<BIO, FreeBio> memory(BIO_new(BIO_s_mem()));
  if (!memory || !writePem(memory.get())) return false;
  char* text = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &text);
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  const bool written = write(fd, text, length) == length && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (written && closed && rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

bool Exists(const std::string& path) {
  return access(path.c_str(), R_OK) == 0;
}

bool CreateCertificates(const ServiceCertificates& files) {
  const Key authorityKey(EVP_EC_gen("P-256"));
  const Key localhostKey(EVP_EC_gen("P-256"));
  if (!authorityKey || !localhostKey) return false;
  const Certificate authority = Issue("quorel-service local authority", authorityKey.get(), nullptr,
                                      authorityKey.get(), kAuthorityDays,
                                      {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                                       {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                       {NID_subject_key_identifier, "hash"},
                                       {NID_authority_key_identifier, "keyid:always"}});
  if (!authority) return false;
  const Certificate localhost =
      Issue("localhost", localhostKey.get(), authority.get(), authorityKey.get(), kLocalhostDays,
            {{NID_basic_constraints, "critical,CA:FALSE"},
             {NID_key_usage, "critical,digitalSignature"},
             {NID_ext_key_usage, "serverAuth"},
             {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1"},
             {NID_subject_key_identifier, "hash"},
             {NID_authority_key_identifier, "keyid:always"}});
  if (!localhost) return false;
  // The authority's key is never stored: it signs this one certificate and is gone, so nothing
  // else can be made that a library trusting the authority would accept.
  return WritePemFile(files.keyFile, 0600,
                      [&](BIO* out) {
                        return PEM_write_bio_PrivateKey(out, localhostKey.get(), nullptr, nullptr,
                                                        0, nullptr, nullptr) == 1;
                      }) &&
         WritePemFile(files.certificateFile, 0644,
                      [&](BIO* out) { return PEM_write_bio_X509(out, localhost.get()) == 1; }) &&
         WritePemFile(files.authorityFile, 0644,
                      [&](BIO* out) { return PEM_write_bio_X509(out, authority.get()) == 1; });
}

}  // namespace

bool PrepareCertificates(const std::string& stateFolder, ServiceCertificates* certificates,
                         std::string* problem) {
  certificates->authorityFile = stateFolder + "/authority.pem";
  certificates->certificateFile = stateFolder + "/localhost.pem";
  certificates->keyFile = stateFolder + "/localhost-key.pem";
  certificates->created = false;
  // The folder holds the private key: one that others can enter or change is not kept private.
  struct stat folder;
  if (stat(stateFolder.c_str(), &folder) == 0 && (folder.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(folder.st_mode & 07777));
    *problem = "the state folder " + stateFolder + " is open to other users (mode " + mode +
               "); make it private with: chmod 700 " + stateFolder;
    return false;
  }
  if (Exists(certificates->authorityFile) && Exists(certificates->certificateFile) &&
      Exists(certificates->keyFile)) {
    return true;
  }
  if (!MakeFolders(stateFolder)) {
    *problem = "cannot create the state folder " + stateFolder + ": " + std::strerror(errno);
    return false;
  }
  if (!CreateCertificates(*certificates)) {
    *problem = "cannot create the certificates in " + stateFolder;
    return false;
  }
  certificates->created = true;
  return true;
}

}  // namespace quorel::service
