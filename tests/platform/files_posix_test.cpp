// quorel::File over POSIX descriptors: what only this system shows.
#include <fcntl.h>
#include <unistd.h>

#include "platform/files.h"
#include "support/portable/case_list.h"

namespace {

using quorel::File;

// The lowest descriptor that is free: the one the next open gets.
int NextDescriptor() {
  const int probe = dup(0);
  close(probe);
  return probe;
}

}  // namespace

QUOREL_CASE(Files, AWriteTheDeviceRefusesCountsNothing) {
  File file;
  REQUIRE(file.Create(u"/dev/full"));
  CHECK_EQ(file.Write("answer", 6), 0u);
}

QUOREL_CASE(Files, AFolderOpensButFailsItsFirstRead) {
  File file;
  REQUIRE(file.OpenForReading(u"/"));
  char data[4];
  CHECK_EQ(file.Read(data, sizeof data), -1);
}

QUOREL_CASE(Files, AChildProcessInheritsNoHandle) {
  const int descriptor = NextDescriptor();
  File file;
  REQUIRE(file.OpenForReading(u"/dev/null"));
  CHECK_EQ(fcntl(descriptor, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}
