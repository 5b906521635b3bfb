// X.509 certificates issued with OpenSSL and kept in PEM files: the service's authority and
// localhost certificate, and the certificates of the tests' own servers.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorel::service {

template <auto Free>
struct Freeing {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
using Key = std::unique_ptr<EVP_PKEY, Freeing<EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freeing<X509_free>>;

// Extensions by NID, each value in OpenSSL's configuration syntax.
using Extensions = std::vector<std::pair<int, const char*>>;

// The oldest error in OpenSSL's queue as text (the queue is then emptied), or "unknown error".
std::string OpenSslError();

// A new P-256 key; null on failure.
Key NewKey();

// A certificate with a random serial for key, named commonName, valid from notBefore to notAfter
// (seconds from now), signed with issuerKey by issuer; a null issuer makes it self-signed. Null
// on failure.
Certificate IssueCertificate(const char* commonName, EVP_PKEY* key, X509* issuer,
                             EVP_PKEY* issuerKey, long notBefore, long notAfter,
                             const Extensions& extensions);

// Each writes its file through a temporary one renamed into place, so a reader never sees half:
// certificates in the order given (readable by all), or an unencrypted key (by the owner only).
// Both false with errno set when the file cannot be written.
bool WriteCertificateFile(const std::string& path, std::initializer_list<X509*> certificates);
bool WriteKeyFile(const std::string& path, EVP_PKEY* key);

}  // namespace quorel::service
