// How the WinINet backend judges a server's certificate chain after a date error.
#pragma once

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <wincrypt.h>

namespace quorel {

// The chain fails only because its leaf is out of its validity dates: none of the leaf's
// issuers is (an expired intermediate or root still fails), and nothing else is wrong with any
// certificate of it.
bool OnlyTheLeafIsOutOfDate(PCCERT_CHAIN_CONTEXT chain);

}  // namespace quorel
