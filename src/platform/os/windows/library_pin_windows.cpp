// The module found by the address of this function, pinned: the loader then ignores every
// FreeLibrary of it until the process ends.
#include <windows.h>

#include "platform/library_pin.h"

namespace quorel {

void KeepThisLibraryLoaded() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&KeepThisLibraryLoaded), &self);
}

}  // namespace quorel
