// A fresh folder under the system's temporary folder, removed with its files at the end.
#pragma once

#include <string>

namespace quorel::test {

class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  // The path of name inside the folder.
  std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }
  const char16_t* Utf16(const std::wstring& path) const {
    return reinterpret_cast<const char16_t*>(path.c_str());
  }

 private:
  std::wstring folder_;
};

// The whole content of a file, or "<missing>" when it cannot be opened.
std::string ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::string& content);

}  // namespace quorel::test
