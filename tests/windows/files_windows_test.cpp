// quorel::File over Win32 handles: what only this system shows (the cases every system shares
// are in tests/platform/files_test.cpp).
#include "platform/files.h"
#include "support/portable/case_list.h"
#include "wide_files.h"

namespace {

using quorel::File;
using quorel::test::ScratchFolder;
using quorel::test::Utf16;

}  // namespace

QUOREL_CASE(Files, AFileBeingWrittenIsNotShared) {
  ScratchFolder folder;
  const std::wstring path = folder.Path(L"answer.json");
  File writer, reader;
  REQUIRE(writer.Create(Utf16(path)));
  CHECK(!reader.OpenForReading(Utf16(path)));
  CHECK(writer.Close());
  CHECK(reader.OpenForReading(Utf16(path)));
}

QUOREL_CASE(Files, AFolderDoesNotOpen) {
  ScratchFolder folder;
  File file;
  CHECK(!file.OpenForReading(Utf16(folder.Path(L""))));
}
