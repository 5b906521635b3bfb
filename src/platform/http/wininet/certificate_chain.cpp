#include "platform/http/wininet/certificate_chain.h"

namespace quorel {

bool TrustedOverlookingLeafDates(PCCERT_CHAIN_CONTEXT chain) {
  // The time-nesting flag is obsolete and says nothing about trust. Whether revocation is
  // checked at all is the system's setting, which WinINet has applied already: a status it could
  // not learn is no fault here, a revoked certificate is.
  constexpr DWORD kNotFaults = CERT_TRUST_IS_NOT_TIME_NESTED |
                               CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                               CERT_TRUST_IS_OFFLINE_REVOCATION;
  constexpr DWORD kLeafMayHave = kNotFaults | CERT_TRUST_IS_NOT_TIME_VALID;
  if (chain == nullptr || chain->cChain != 1 ||
      (chain->TrustStatus.dwErrorStatus & ~kLeafMayHave) != 0) {
    return false;
  }
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  if (simple.cElement < 2) return false;  // a leaf with no issuer is trusted by nothing
  if ((simple.rgpElement[0]->TrustStatus.dwErrorStatus & ~kLeafMayHave) != 0) return false;
  for (DWORD i = 1; i < simple.cElement; ++i) {
    if ((simple.rgpElement[i]->TrustStatus.dwErrorStatus & ~kNotFaults) != 0) return false;
  }
  return true;
}

}  // namespace quorel
