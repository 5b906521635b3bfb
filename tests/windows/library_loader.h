// The DLL loaded as a Windows host loads it: by name from the program's folder, its exports
// taken by ordinal.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace quorel::test {

constexpr wchar_t kLibraryName[] = L"VantrelQuorelSpeech.dll";

// The DLL beside this program, where the build puts a copy.
std::wstring LibraryPath();

class LoadedLibrary {
 public:
  LoadedLibrary() : module_(LoadLibraryW(LibraryPath().c_str())) {}
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  ~LoadedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE Get() const { return module_; }

 private:
  HMODULE module_;
};

using SpeechFunction = int32_t(__stdcall*)(const wchar_t* audioPath, const wchar_t* key,
                                           const wchar_t* responsePath);
using StartFunction = int32_t(__stdcall*)(const wchar_t* path);
using StopFunction = int32_t(__stdcall*)();

// The DLL loaded, with its three exports by ordinal; null members when it does not load.
struct LoadedExports : LoadedLibrary {
  LoadedExports();
  SpeechFunction speech;
  StartFunction start;
  StopFunction stop;
};

}  // namespace quorel::test
