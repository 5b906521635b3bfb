// The certificate policy of the OpenSSL-based exchange, shared with the tool's own check of the
// service so that both judge a chain alike: the chain must reach a trusted root, and only the
// leaf's validity dates are overlooked (devices often run with a wrong clock).
#pragma once

#include <openssl/x509_vfy.h>

namespace quorel {

// An SSL_CTX_set_verify callback.
inline int VerifyOverlookingLeafDates(int preverified, X509_STORE_CTX* store) {
  if (preverified) return 1;
  const int error = X509_STORE_CTX_get_error(store);
  if (X509_STORE_CTX_get_error_depth(store) != 0 ||
      (error != X509_V_ERR_CERT_HAS_EXPIRED && error != X509_V_ERR_CERT_NOT_YET_VALID)) {
    return 0;
  }
  X509_STORE_CTX_set_error(store, X509_V_OK);
  return 1;
}

}  // namespace quorel
