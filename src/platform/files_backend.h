// The table of functions a file backend provides, one per step of File (files.h) that the
// system can fail, which calls them through it. Each backend file defines one, and the build
// links one. Each entry keeps the guarantees of files.h and does only what is its own: before
// it is called, a path has been checked to name a file, a handle is one that open returned and
// close has not yet released, and closing a closed File never reaches the backend.
#pragma once

#include "platform/files.h"

namespace quorel {

struct FileBackend {
  // The handle of the opened file, or -1 when it could not be opened.
  intptr_t (*open)(const char16_t* path, FileAccess access);
  int64_t (*size)(intptr_t handle);
  int64_t (*read)(intptr_t handle, void* data, size_t count);
  size_t (*write)(intptr_t handle, const void* data, size_t count);
  bool (*rewind)(intptr_t handle);
  bool (*truncate)(intptr_t handle, int64_t size);
  // Releases the handle, whatever it returns.
  bool (*close)(intptr_t handle);
};

// The table of the build's backend (POSIX descriptors on Linux, Win32 handles on Windows),
// which its backend file defines from its own functions.
extern const FileBackend kFileBackend;

// The table File calls through: kFileBackend's entries, unless a test has put in one of its
// own that wraps the backend's (to fail one step) and puts the backend's back afterwards.
FileBackend& FileBackendInUse();

}  // namespace quorel
