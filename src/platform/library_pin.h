// Keeps the library that holds this code mapped until the process ends, for a thread of its
// own that may outlive every call into it: a host that unloads the library meanwhile then
// unmaps nothing that thread still runs (its own code, or the libraries it depends on).
//
// What every backend guarantees: once it has returned, unloading the library (dlclose,
// FreeLibrary) leaves it in place; calling it again costs nothing more. Statically linked
// into a program, it changes nothing. It never fails in a way the caller has to handle.
#pragma once

namespace quorel {

void KeepThisLibraryLoaded();

}  // namespace quorel
