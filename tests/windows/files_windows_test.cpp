// quorel::File over Win32 handles, against real files in a temporary folder.
#include "platform/files.h"
#include "support/portable/case_list.h"
#include "wide_files.h"

namespace {

using quorel::File;
using quorel::test::ReadWholeFile;
using quorel::test::ScratchFolder;
using quorel::test::Utf16;
using quorel::test::WriteWholeFile;

}  // namespace

QUOREL_CASE(Files, CreateEmptiesAnExistingFileAndWritesFromItsStart) {
  ScratchFolder folder;
  const std::wstring path = folder.Path(L"out.wav");
  WriteWholeFile(path, "earlier content");
  File file;
  REQUIRE(file.Create(Utf16(path)));
  CHECK_EQ(file.Write("new", 3), 3u);
  CHECK_EQ(file.Size(), 3);
  CHECK(file.Close());
  CHECK_EQ(ReadWholeFile(path), "new");
}

QUOREL_CASE(Files, RewindWritesOverTheStart) {
  ScratchFolder folder;
  const std::wstring path = folder.Path(L"header.wav");
  File file;
  REQUIRE(file.Create(Utf16(path)));
  CHECK_EQ(file.Write("0123456789", 10), 10u);
  CHECK(file.Rewind());
  CHECK_EQ(file.Write("abc", 3), 3u);
  CHECK(file.Close());
  CHECK_EQ(ReadWholeFile(path), "abc3456789");
}

QUOREL_CASE(Files, CreateRefusesPathsTheSystemCannotName) {
  ScratchFolder folder;
  File file;
  CHECK(!file.Create(Utf16(folder.Path(L"no such folder\\out.wav"))));
  CHECK(!file.Create(Utf16(folder.Path(std::wstring(L"half") + wchar_t(0xD800) + L".wav"))));
  CHECK(!file.Create(u""));
  CHECK(!file.Create(nullptr));
  CHECK(!file.Create(Utf16(folder.Path(L""))));  // the folder itself
  CHECK(!file.IsOpen());
}

QUOREL_CASE(Files, NonAsciiNamesReachTheSystemUnchanged) {
  ScratchFolder folder;
  const std::wstring path = folder.Path(L"r\u00e9sum\u00e9 \u97f3\U0001F3B5.wav");
  File file;
  REQUIRE(file.Create(Utf16(path)));
  CHECK_EQ(file.Write("x", 1), 1u);
  CHECK(file.Close());
  CHECK_EQ(ReadWholeFile(path), "x");
}

QUOREL_CASE(Files, ReadersShareAFileAndSeeItsEnd) {
  ScratchFolder folder;
  const std::wstring path = folder.Path(L"audio.wav");
  WriteWholeFile(path, "abcde");
  File first, second;
  REQUIRE(first.OpenForReading(Utf16(path)));
  REQUIRE(second.OpenForReading(Utf16(path)));
  CHECK_EQ(first.Size(), 5);
  char data[8] = {};
  CHECK_EQ(first.Read(data, sizeof data), 5);
  CHECK_EQ(std::string(data, 5), "abcde");
  CHECK_EQ(first.Read(data, sizeof data), 0);
  CHECK_EQ(second.Read(data, 2), 2);
}

QUOREL_CASE(Files, AFileBeingWrittenIsNotShared) {
  ScratchFolder folder;
  const std::wstring path = folder.Path(L"answer.json");
  File writer, reader;
  REQUIRE(writer.Create(Utf16(path)));
  CHECK(!reader.OpenForReading(Utf16(path)));
  CHECK(writer.Close());
  CHECK(reader.OpenForReading(Utf16(path)));
}

QUOREL_CASE(Files, OpenForReadingFailsForMissingFilesAndFolders) {
  ScratchFolder folder;
  File file;
  CHECK(!file.OpenForReading(Utf16(folder.Path(L"missing.wav"))));
  CHECK(!file.OpenForReading(Utf16(folder.Path(L""))));
  CHECK(!file.OpenForReading(nullptr));
}

QUOREL_CASE(Files, AClosedFileRefusesEveryOperation) {
  File file;
  char data[4];
  CHECK_EQ(file.Size(), -1);
  CHECK_EQ(file.Read(data, sizeof data), -1);
  CHECK_EQ(file.Write("x", 1), 0u);
  CHECK(!file.Rewind());
  CHECK(file.Close());
}
