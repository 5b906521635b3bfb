// Files over Win32 handles. Paths are UTF-16 already; writes go straight to the handle, so a
// count reported as written is a count the file really holds.
#include <windows.h>

#include "platform/files_backend.h"

namespace quorel {

// The backend's entries, reached only through its table below.
namespace {

// File keeps -1 for a closed file, the value of INVALID_HANDLE_VALUE.
HANDLE Native(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// ReadFile and WriteFile take 32-bit counts.
DWORD ClampedCount(size_t count) {
  return count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
}

intptr_t Open(const char16_t* path, FileAccess access) {
  const bool writing = access == FileAccess::kCreateForWriting;
  return reinterpret_cast<intptr_t>(
      CreateFileW(reinterpret_cast<const wchar_t*>(path), writing ? GENERIC_WRITE : GENERIC_READ,
                  writing ? 0 : FILE_SHARE_READ, nullptr, writing ? CREATE_ALWAYS : OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

int64_t Size(intptr_t handle) {
  DWORD high = 0;
  const DWORD low = GetFileSize(Native(handle), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

int64_t Read(intptr_t handle, void* data, size_t count) {
  DWORD got = 0;
  if (!ReadFile(Native(handle), data, ClampedCount(count), &got, nullptr)) return -1;
  return got;
}

size_t Write(intptr_t handle, const void* data, size_t count) {
  const char* bytes = static_cast<const char*>(data);
  size_t written = 0;
  while (written < count) {
    DWORD put = 0;
    if (!WriteFile(Native(handle), bytes + written, ClampedCount(count - written), &put, nullptr) ||
        put == 0) {
      break;
    }
    written += put;
  }
  return written;
}

bool Rewind(intptr_t handle) {
  return SetFilePointerEx(Native(handle), LARGE_INTEGER{}, nullptr, FILE_BEGIN);
}

bool Truncate(intptr_t handle, int64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = size;
  return SetFilePointerEx(Native(handle), position, nullptr, FILE_BEGIN) &&
         SetEndOfFile(Native(handle));
}

bool Close(intptr_t handle) {
  return CloseHandle(Native(handle));
}

}  // namespace

const FileBackend kFileBackend = {Open, Size, Read, Write, Rewind, Truncate, Close};

}  // namespace quorel
