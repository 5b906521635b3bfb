// X.509 certificates issued with OpenSSL: the service's authority and localhost certificate, and
// the certificates of the tests' own servers.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
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

// A new P-256 key; null on failure.
Key NewKey();

// A certificate with a random serial for key, named commonName, valid from notBefore to notAfter
// (seconds from now), signed with issuerKey by issuer; a null issuer makes it self-signed. Null
// on failure.
Certificate IssueCertificate(const char* commonName, EVP_PKEY* key, X509* issuer,
                             EVP_PKEY* issuerKey, long notBefore, long notAfter,
                             const Extensions& extensions);

}  // namespace quorel::service
