// The opening of a file, the same on every system.
#include "platform/files.h"

#include "common/utf16.h"

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

bool File::Open(const char16_t* path, Access access) {
  Close();
  if (IsNameablePath(path)) handle_ = OpenChecked(path, access);
  return IsOpen();
}

}  // namespace quorel
