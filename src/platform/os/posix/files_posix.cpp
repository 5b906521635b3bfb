// Files over POSIX descriptors: paths converted to UTF-8, writes unbuffered so that a count
// reported as written is a count the file really holds.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf16.h"
#include "platform/files.h"
#include "platform/os/posix/file_size_signal.h"

namespace quorel {

// The build defines _FILE_OFFSET_BITS=64: with a 32-bit off_t (32-bit Linux otherwise) open
// refuses a file of 2 GiB or more, fstat cannot give its size, and a recording's last bytes
// before its 2 GiB limit could not be written.
static_assert(sizeof(off_t) == 8, "files need 64-bit offsets");

namespace {

int OpenPath(const char16_t* path, int flags) {
  char native[PATH_MAX];
  if (!Utf16ToUtf8(path, native, sizeof native)) return -1;
  int fd;
  do {
    fd = open(native, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int Descriptor(intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

intptr_t File::OpenChecked(const char16_t* path, Access access) {
  return OpenPath(path,
                  access == Access::kCreateForWriting ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY);
}

int64_t File::Size() const {
  struct stat status;
  if (!IsOpen() || fstat(Descriptor(handle_), &status) != 0) return -1;
  return status.st_size;
}

int64_t File::Read(void* data, size_t count) {
  if (!IsOpen()) return -1;
  ssize_t got;
  do {
    got = read(Descriptor(handle_), data, count);
  } while (got < 0 && errno == EINTR);
  return got;
}

size_t File::Write(const void* data, size_t count) {
  if (!IsOpen()) return 0;
  FileSizeSignalHeld sizeLimitGivesAShortWrite;
  const char* bytes = static_cast<const char*>(data);
  size_t written = 0;
  while (written < count) {
    const ssize_t put = write(Descriptor(handle_), bytes + written, count - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    written += static_cast<size_t>(put);
  }
  return written;
}

bool File::Rewind() {
  return IsOpen() && lseek(Descriptor(handle_), 0, SEEK_SET) == 0;
}

bool File::Truncate(int64_t size) {
  return IsOpen() && ftruncate(Descriptor(handle_), size) == 0 &&
         lseek(Descriptor(handle_), size, SEEK_SET) == size;
}

bool File::Close() {
  if (!IsOpen()) return true;
  // close() is not retried on EINTR: on Linux the descriptor is released either way.
  const bool kept = close(Descriptor(handle_)) == 0;
  handle_ = kClosed;
  return kept;
}

}  // namespace quorel
