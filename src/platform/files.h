// Files named by UTF-16 paths: the WAV file the recorder writes, the audio file the upload
// reads and the response file it writes. The arguments are checked here once (files.cpp), for
// every backend, and the backend of the build is called through its table (files_backend.h).
//
// What every backend guarantees:
// - A path that is null, empty or not valid UTF-16 names no file: it is refused before the
//   backend sees it, even where the system would accept such a name.
// - Create gives a file open for writing only, emptied if it existed; OpenForReading an
//   existing file open for reading only, which other readers may open too. Neither handle is
//   inherited by a child process.
// - Writes are unbuffered: a count reported as written is a count the system has taken, and
//   fewer than asked means the rest was refused. Reads and writes that a signal interrupts
//   are carried on, not failed.
// - A closed File fails every call but Close, which succeeds; Close always releases the handle.
// - One File is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel {

// How File opens a file: see Create and OpenForReading.
enum class FileAccess { kCreateForWriting, kExistingForReading };

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  // Creates the file, or empties an existing one, for writing. Fails for a path the platform
  // cannot name (a missing folder, no permission, an unpaired surrogate).
  bool Create(const char16_t* path) { return Open(path, FileAccess::kCreateForWriting); }
  // Opens an existing file for reading; other readers may open it too.
  bool OpenForReading(const char16_t* path) { return Open(path, FileAccess::kExistingForReading); }
  bool IsOpen() const { return handle_ != kClosed; }
  // Size in bytes, or -1 when it cannot be taken.
  int64_t Size() const;
  // Reads up to count bytes at the current position: the number read, 0 at the end, -1 on failure.
  int64_t Read(void* data, size_t count);
  // Writes count bytes at the current position and returns how many reached the file; fewer
  // than count means the rest was refused (disk full, size limit, I/O error).
  size_t Write(const void* data, size_t count);
  // Moves the position back to the start of the file.
  bool Rewind();
  // Cuts the file back to size bytes and moves the position to its new end.
  bool Truncate(int64_t size);
  // Closes the file; false when the system reports that written data was not kept.
  bool Close();

 private:
  static constexpr intptr_t kClosed = -1;

  bool Open(const char16_t* path, FileAccess access);

  intptr_t handle_ = kClosed;
};

}  // namespace quorel
