// File's functions, the same on every system: each checks its arguments once, for every
// backend, and calls the backend's entry.
#include "platform/files.h"

#include "common/utf16.h"
#include "platform/files_backend.h"

namespace quorel {

namespace {

// Some file systems would take an unpaired surrogate in a name (NTFS does); such a name
// cannot be shown or typed anywhere else, so it is refused on every system.
bool IsNameablePath(const char16_t* path) {
  if (path == nullptr || path[0] == 0) return false;
  for (size_t index = 0; path[index] != 0;) {
    if (NextCodePoint(path, index) == kInvalidCodePoint) return false;
  }
  return true;
}

}  // namespace

FileBackend& FileBackendInUse() {
  static FileBackend inUse = kFileBackend;
  return inUse;
}

bool File::Open(const char16_t* path, FileAccess access) {
  Close();
  if (IsNameablePath(path)) handle_ = FileBackendInUse().open(path, access);
  return IsOpen();
}

int64_t File::Size() const {
  return IsOpen() ? FileBackendInUse().size(handle_) : -1;
}

int64_t File::Read(void* data, size_t count) {
  return IsOpen() ? FileBackendInUse().read(handle_, data, count) : -1;
}

size_t File::Write(const void* data, size_t count) {
  return IsOpen() ? FileBackendInUse().write(handle_, data, count) : 0;
}

bool File::Rewind() {
  return IsOpen() && FileBackendInUse().rewind(handle_);
}

bool File::Truncate(int64_t size) {
  return IsOpen() && FileBackendInUse().truncate(handle_, size);
}

bool File::Close() {
  if (!IsOpen()) return true;
  const intptr_t handle = handle_;
  handle_ = kClosed;
  return FileBackendInUse().close(handle);
}

}  // namespace quorel
