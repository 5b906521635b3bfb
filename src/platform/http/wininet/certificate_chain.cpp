#include "platform/http/wininet/certificate_chain.h"

namespace quorel {

bool OnlyTheLeafIsOutOfDate(PCCERT_CHAIN_CONTEXT chain) {
  // The time-nesting flag is obsolete and says nothing about trust.
  constexpr DWORD kDateErrors = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED;
  if (chain == nullptr || chain->cChain != 1 ||
      (chain->TrustStatus.dwErrorStatus & ~kDateErrors) != 0) {
    return false;
  }
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  if (simple.cElement < 2) return false;  // a leaf with no issuer is trusted by nothing
  const DWORD leafErrors = simple.rgpElement[0]->TrustStatus.dwErrorStatus;
  if ((leafErrors & ~kDateErrors) != 0 || (leafErrors & CERT_TRUST_IS_NOT_TIME_VALID) == 0) {
    return false;
  }
  for (DWORD i = 1; i < simple.cElement; ++i) {
    if (simple.rgpElement[i]->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) return false;
  }
  return true;
}

}  // namespace quorel
