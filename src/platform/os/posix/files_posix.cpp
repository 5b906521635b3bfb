// Files over POSIX descriptors: paths converted to UTF-8, writes unbuffered so that a count
// reported as written is a count the file really holds.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf16.h"
#include "platform/files_backend.h"
#include "platform/os/posix/file_size_signal.h"

namespace quorel {

// The build defines _FILE_OFFSET_BITS=64: with a 32-bit off_t (32-bit Linux otherwise) open
// refuses a file of 2 GiB or more, fstat cannot give its size, and a recording's last bytes
// before its 2 GiB limit could not be written.
static_assert(sizeof(off_t) == 8, "files need 64-bit offsets");

// The backend's entries, reached only through its table below.
namespace {

int Descriptor(intptr_t handle) {
  return static_cast<int>(handle);
}

intptr_t Open(const char16_t* path, FileAccess access) {
  char native[PATH_MAX];
  if (!Utf16ToUtf8(path, native, sizeof native)) return -1;
  const int flags =
      access == FileAccess::kCreateForWriting ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
  int fd;
  do {
    fd = open(native, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int64_t Size(intptr_t handle) {
  struct stat status;
  if (fstat(Descriptor(handle), &status) != 0) return -1;
  return status.st_size;
}

int64_t Read(intptr_t handle, void* data, size_t count) {
  ssize_t got;
  do {
    got = read(Descriptor(handle), data, count);
  } while (got < 0 && errno == EINTR);
  return got;
}

size_t Write(intptr_t handle, const void* data, size_t count) {
  FileSizeSignalHeld sizeLimitGivesAShortWrite;
  const char* bytes = static_cast<const char*>(data);
  size_t written = 0;
  while (written < count) {
    const ssize_t put = write(Descriptor(handle), bytes + written, count - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    written += static_cast<size_t>(put);
  }
  return written;
}

bool Rewind(intptr_t handle) {
  return lseek(Descriptor(handle), 0, SEEK_SET) == 0;
}

bool Truncate(intptr_t handle, int64_t size) {
  return ftruncate(Descriptor(handle), size) == 0 &&
         lseek(Descriptor(handle), size, SEEK_SET) == size;
}

bool Close(intptr_t handle) {
  // close() is not retried on EINTR: on Linux the descriptor is released either way.
  return close(Descriptor(handle)) == 0;
}

}  // namespace

const FileBackend kFileBackend = {Open, Size, Read, Write, Rewind, Truncate, Close};

}  // namespace quorel
