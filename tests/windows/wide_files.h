// Files by their Windows paths, for the programs that run under Wine.
#pragma once

#include <string>

#include "support/portable/scratch_folder.h"

namespace quorel::test {

// A path as the library receives it.
inline const char16_t* Utf16(const std::wstring& path) {
  return reinterpret_cast<const char16_t*>(path.c_str());
}

// The whole content of a file, or "<missing>" when it cannot be opened.
std::string ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::string& content);

}  // namespace quorel::test
