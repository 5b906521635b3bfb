// The DLL as Windows sees it: exports by ordinal, resources; and its side of the shared module
// cases.
#include <windows.h>
// After <windows.h>, whose types they use.
#include <oleauto.h>
#include <tlhelp32.h>

#include <string>

#include "library_loader.h"
#include "support/portable/case_list.h"

namespace {

using namespace quorel::test;

const void* Export(HMODULE module, const char* nameOrOrdinal) {
  return reinterpret_cast<const void*>(GetProcAddress(module, nameOrOrdinal));
}

std::wstring VersionText(const void* block, const wchar_t* key) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block, path.c_str(), &value, &length)) return L"<missing>";
  const wchar_t* text = static_cast<const wchar_t*>(value);
  return std::wstring(text, length > 0 && text[length - 1] == 0 ? length - 1 : length);
}

size_t ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

}  // namespace

// The DLL's side of the shared module cases (tests/module/module_cases.cpp).
namespace quorel::test {

std::string LoadAndUnloadFaults() {
  {
    const LoadedExports library;
    if (library.Get() == nullptr) return "the DLL does not load";
    if (library.stop == nullptr) return "no export by ordinal 3";
  }
  return GetModuleHandleW(kLibraryName) == nullptr ? "" : "still loaded after FreeLibrary";
}

std::string ProcessFootprint() {
  DWORD handles = 0;
  CHECK(GetProcessHandleCount(GetCurrentProcess(), &handles));
  return std::to_string(ThreadsOfThisProcess()) + " threads, " + std::to_string(handles) +
         " handles";
}

}  // namespace quorel::test

QUOREL_CASE(Module, ExportsByOrdinalAreTheNamedFunctionsAndNoOthers) {
  LoadedLibrary library;
  REQUIRE(library.Get() != nullptr);
  const BYTE* base = reinterpret_cast<const BYTE*>(library.Get());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  REQUIRE(directory.VirtualAddress != 0);
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  CHECK_EQ(exports->Base, 1u);
  CHECK_EQ(exports->NumberOfFunctions, 3u);
  CHECK_EQ(exports->NumberOfNames, 3u);
  CHECK_EQ(std::string(reinterpret_cast<const char*>(base + exports->Name)),
           "VantrelQuorelSpeech.dll");
  const char* names[] = {"QuorelSpeech", "QuorelSoundRecorderStart", "QuorelSoundRecorderStop"};
  for (WORD ordinal = 1; ordinal <= 3; ++ordinal) {
    const void* byOrdinal = Export(library.Get(), MAKEINTRESOURCEA(ordinal));
    CHECK(byOrdinal != nullptr);
    CHECK_EQ(byOrdinal, Export(library.Get(), names[ordinal - 1]));
  }
  CHECK(Export(library.Get(), MAKEINTRESOURCEA(4)) == nullptr);
}

QUOREL_CASE(Module, VersionBlockCarriesTheProductTexts) {
  const std::wstring path = LibraryPath();
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  REQUIRE(size > 0);
  std::string block(size, '\0');
  REQUIRE(GetFileVersionInfoW(path.c_str(), 0, size, &block[0]));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  REQUIRE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  CHECK_EQ(fixed->dwFileVersionMS, 0x00010000u);
  CHECK_EQ(fixed->dwFileVersionLS, 0x00000001u);
  CHECK_EQ(fixed->dwProductVersionMS, 0x00010000u);
  CHECK_EQ(fixed->dwProductVersionLS, 0x00000001u);
  CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  DWORD* translation = nullptr;
  UINT translationLength = 0;
  REQUIRE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &translationLength));
  CHECK_EQ(translationLength, 4u);
  CHECK_EQ(*translation, 0x04B00409u);  // U.S. English, Unicode

  const void* texts = block.data();
  CHECK_EQ(VersionText(texts, L"FileVersion"), L"1, 0, 0, 1");
  CHECK_EQ(VersionText(texts, L"ProductVersion"), L"1, 0, 0, 1");
  CHECK_EQ(VersionText(texts, L"FileDescription"), L"VantrelQuorelSpeech DLL");
  CHECK_EQ(VersionText(texts, L"InternalName"), L"VantrelQuorelSpeech");
  CHECK_EQ(VersionText(texts, L"OriginalFilename"), L"VantrelQuorelSpeech.DLL");
  CHECK_EQ(VersionText(texts, L"ProductName"), L"VantrelQuorelSpeech Dynamic Link Library");
  CHECK_EQ(VersionText(texts, L"OLESelfRegister"), L"");
  CHECK_EQ(VersionText(texts, L"CompanyName"), L"");
  CHECK_EQ(VersionText(texts, L"LegalTrademarks"), L"");
}

QUOREL_CASE(Module, TypeLibraryOneIsEmptyAndStringTableHoldsEntry101) {
  LoadedLibrary library;
  REQUIRE(library.Get() != nullptr);
  CHECK(FindResourceW(library.Get(), MAKEINTRESOURCEW(1), L"TYPELIB") != nullptr);

  ITypeLib* typeLibrary = nullptr;
  REQUIRE(SUCCEEDED(LoadTypeLibEx(LibraryPath().c_str(), REGKIND_NONE, &typeLibrary)));
  BSTR name = nullptr;
  CHECK(SUCCEEDED(typeLibrary->GetDocumentation(-1, &name, nullptr, nullptr, nullptr)));
  CHECK_EQ(std::wstring(name != nullptr ? name : L""), L"VantrelQuorelSpeechW");
  SysFreeString(name);
  CHECK_EQ(typeLibrary->GetTypeInfoCount(), 0u);
  typeLibrary->Release();

  wchar_t text[100] = {};
  const int length = LoadStringW(library.Get(), 101, text, 100);
  CHECK_EQ(std::wstring(text, length > 0 ? length : 0), L"Windows sockets initialization failed.");
  CHECK_EQ(LoadStringW(library.Get(), 102, text, 100), 0);
}
