#include "wide_files.h"

#include <windows.h>

#include <cstdio>

namespace quorel::test {

std::string ReadWholeFile(const std::wstring& path) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return "<missing>";
  std::string content;
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    content.append(chunk, got);
  std::fclose(file);
  return content;
}

void WriteWholeFile(const std::wstring& path, const std::string& content) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (file == nullptr) return;
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

}  // namespace quorel::test
