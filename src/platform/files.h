// Files named by UTF-16 paths: the WAV file the recorder writes, the audio file the upload
// reads and the response file it writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorel {

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  // Creates the file, or empties an existing one, for writing. Fails for a path the platform
  // cannot name (a missing folder, no permission, an unpaired surrogate).
  bool Create(const char16_t* path);
  // Opens an existing file for reading; other readers may open it too.
  bool OpenForReading(const char16_t* path);
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
  intptr_t handle_ = kClosed;
};

}  // namespace quorel
