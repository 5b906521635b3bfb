// quorel::File against real files in a scratch folder, the same cases on every system.
#include "platform/files.h"

#include <filesystem>
#include <string>

#include "support/portable/case_list.h"
#include "support/portable/file_bytes.h"
#include "support/portable/scratch_folder.h"

namespace {

using quorel::File;
using quorel::test::ReadFile;
using quorel::test::ScratchFolder;
using quorel::test::WriteFile;

// The path of name in folder as File takes it.
std::u16string PathIn(const ScratchFolder& folder, const std::u16string& name) {
  return std::filesystem::path(folder.Root()).u16string() +
         static_cast<char16_t>(std::filesystem::path::preferred_separator) + name;
}

}  // namespace

// The name reaches the system unchanged: the file the test wrote under it is the one emptied.
QUOREL_CASE(Files, CreateEmptiesAnExistingFileOfAnyNameAndWritesFromItsStart) {
  ScratchFolder folder;
  const std::u16string path = PathIn(folder, u"r\u00e9sum\u00e9 \u97f3\U0001F3B5.wav");
  WriteFile(path, "earlier content");
  File file;
  REQUIRE(file.Create(path.c_str()));
  CHECK_EQ(file.Write("new", 3), 3u);
  CHECK_EQ(file.Size(), 3);
  CHECK(file.Close());
  CHECK_EQ(ReadFile(path), "new");
}

QUOREL_CASE(Files, RewindAndTruncateMoveTheWritingPosition) {
  ScratchFolder folder;
  const std::u16string path = PathIn(folder, u"header.wav");
  File file;
  REQUIRE(file.Create(path.c_str()));
  CHECK_EQ(file.Write("0123456789", 10), 10u);
  CHECK(file.Rewind());
  CHECK_EQ(file.Write("abc", 3), 3u);
  CHECK(file.Truncate(6));
  CHECK_EQ(file.Size(), 6);
  CHECK_EQ(file.Write("Z", 1), 1u);
  CHECK(file.Close());
  CHECK_EQ(ReadFile(path), "abc345Z");
}

QUOREL_CASE(Files, CreateRefusesPathsTheSystemCannotName) {
  ScratchFolder folder;
  File file;
  const std::u16string separator(1, std::filesystem::path::preferred_separator);
  CHECK(!file.Create(PathIn(folder, u"no such folder" + separator + u"out.wav").c_str()));
  CHECK(!file.Create(PathIn(folder, u"half" + std::u16string(1, 0xD800) + u".wav").c_str()));
  CHECK(!file.Create(u""));
  CHECK(!file.Create(nullptr));
  CHECK(!file.Create(PathIn(folder, u"").c_str()));  // the folder itself
  CHECK(!file.IsOpen());
}

QUOREL_CASE(Files, ReadersShareAFileAndSeeItsEnd) {
  ScratchFolder folder;
  const std::u16string path = PathIn(folder, u"audio.wav");
  WriteFile(path, "abcde");
  File first, second;
  REQUIRE(first.OpenForReading(path.c_str()));
  REQUIRE(second.OpenForReading(path.c_str()));
  CHECK_EQ(first.Size(), 5);
  char data[8] = {};
  CHECK_EQ(first.Read(data, sizeof data), 5);
  CHECK_EQ(std::string(data, 5), "abcde");
  CHECK_EQ(first.Read(data, sizeof data), 0);
  CHECK_EQ(second.Read(data, 2), 2);
}

QUOREL_CASE(Files, MissingFilesAndFoldersAreNeverRead) {
  ScratchFolder folder;
  File file;
  CHECK(!file.OpenForReading(PathIn(folder, u"missing.wav").c_str()));
  CHECK(!file.OpenForReading(nullptr));
  // A folder may open (POSIX opens one for reading), but never reads as a file.
  char data[4];
  CHECK(!file.OpenForReading(PathIn(folder, u"").c_str()) || file.Read(data, sizeof data) == -1);
}

QUOREL_CASE(Files, AClosedFileRefusesEveryOperation) {
  File file;
  char data[4];
  CHECK_EQ(file.Size(), -1);
  CHECK_EQ(file.Read(data, sizeof data), -1);
  CHECK_EQ(file.Write("x", 1), 0u);
  CHECK(!file.Rewind());
  CHECK(!file.Truncate(0));
  CHECK(file.Close());
}
