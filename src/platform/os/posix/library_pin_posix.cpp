// The library found by the address of this function and opened again with RTLD_NODELETE, which
// the loader keeps for the object from then on; the handle is given back at once.
#include <dlfcn.h>

#include "platform/library_pin.h"

namespace quorel {

void KeepThisLibraryLoaded() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&KeepThisLibraryLoaded), &info) == 0) return;
  if (void* self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(self);
}

}  // namespace quorel
