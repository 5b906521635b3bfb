// Files over Win32 handles. Paths are UTF-16 already; writes go straight to the handle, so a
// count reported as written is a count the file really holds.
#include <windows.h>

#include "platform/files.h"

namespace quorel {

namespace {

intptr_t OpenPath(const char16_t* path, DWORD access, DWORD sharing, DWORD disposition) {
  return reinterpret_cast<intptr_t>(CreateFileW(reinterpret_cast<const wchar_t*>(path), access,
                                                sharing, nullptr, disposition,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// File keeps -1 for a closed file, the value of INVALID_HANDLE_VALUE.
HANDLE Native(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// ReadFile and WriteFile take 32-bit counts.
DWORD ClampedCount(size_t count) {
  return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
}

}  // namespace

intptr_t File::OpenChecked(const char16_t* path, Access access) {
  return access == Access::kCreateForWriting
             ? OpenPath(path, GENERIC_WRITE, 0, CREATE_ALWAYS)
             : OpenPath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

int64_t File::Size() const {
  if (!IsOpen()) return -1;
  DWORD high = 0;
  const DWORD low = GetFileSize(Native(handle_), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

int64_t File::Read(void* data, size_t count) {
  DWORD got = 0;
  if (!IsOpen() || !ReadFile(Native(handle_), data, ClampedCount(count), &got, nullptr)) return -1;
  return got;
}

size_t File::Write(const void* data, size_t count) {
  if (!IsOpen()) return 0;
  const char* bytes = static_cast<const char*>(data);
  size_t written = 0;
  while (written < count) {
    DWORD put = 0;
    if (!WriteFile(Native(handle_), bytes + written, ClampedCount(count - written), &put,
                   nullptr) ||
        put == 0) {
      break;
    }
    written += put;
  }
  return written;
}

bool File::Rewind() {
  return IsOpen() && SetFilePointerEx(Native(handle_), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
}

bool File::Truncate(int64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = size;
  return IsOpen() && SetFilePointerEx(Native(handle_), position, nullptr, FILE_BEGIN) &&
         SetEndOfFile(Native(handle_));
}

bool File::Close() {
  if (!IsOpen()) return true;
  const bool kept = CloseHandle(Native(handle_));
  handle_ = kClosed;
  return kept;
}

}  // namespace quorel
