#include "library_loader.h"

namespace quorel::test {

namespace {

template <typename Function>
Function ByOrdinal(HMODULE module, WORD ordinal) {
  if (module == nullptr) return nullptr;
  // Through void*: the cast from FARPROC to another function type is what GetProcAddress means.
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

std::wstring LibraryPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring program(path, length);
  return program.substr(0, program.find_last_of(L"\\/") + 1) + kLibraryName;
}

LoadedExports::LoadedExports()
    : speech(ByOrdinal<SpeechFunction>(Get(), 1)),
      start(ByOrdinal<StartFunction>(Get(), 2)),
      stop(ByOrdinal<StopFunction>(Get(), 3)) {}

}  // namespace quorel::test
