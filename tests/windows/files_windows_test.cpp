// quorel::File over Win32 handles: what only this system shows (the cases every system shares
// are in tests/platform/files_test.cpp).
#include <filesystem>

#include "platform/files.h"
#include "support/portable/case_list.h"
#include "support/portable/scratch_folder.h"

namespace {

using quorel::File;
using quorel::test::ScratchFolder;

}  // namespace

QUOREL_CASE(Files, AFileBeingWrittenIsNotShared) {
  ScratchFolder folder;
  const std::u16string path = std::filesystem::path(folder.Path(L"answer.json")).u16string();
  File writer, reader;
  REQUIRE(writer.Create(path.c_str()));
  CHECK(!reader.OpenForReading(path.c_str()));
  CHECK(writer.Close());
  CHECK(reader.OpenForReading(path.c_str()));
}

QUOREL_CASE(Files, AFolderDoesNotOpen) {
  ScratchFolder folder;
  File file;
  CHECK(!file.OpenForReading(std::filesystem::path(folder.Path(L"")).u16string().c_str()));
}
