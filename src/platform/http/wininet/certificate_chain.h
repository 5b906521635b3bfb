// How the WinINet backend judges the server's certificate chain once the handshake, made with
// every date overlooked, is done.
#pragma once

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wincrypt.h>

namespace quorel {

// The chain reaches a trusted root and nothing is wrong with any certificate of it, except that
// the leaf may be out of its validity dates (devices often run with a wrong clock): an expired
// intermediate or root still fails.
bool TrustedOverlookingLeafDates(PCCERT_CHAIN_CONTEXT chain);

}  // namespace quorel
