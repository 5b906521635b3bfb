// Freezing and thawing the sound server from a Windows program, which cannot stop a process of
// the host: scripts/test-windows.sh watches QUOREL_FREEZE_FOLDER for a request file, signals
// its private PulseAudio server and answers with a file of its own.
#include <windows.h>

#include <string>

#include "support/portable/sound_server.h"
#include "wire_checks.h"

namespace quorel::test {

namespace {

// Writes the request file and waits up to five seconds for the answer, which it takes away.
bool AskTheScript(const std::wstring& request, const std::wstring& answer) {
  const std::wstring folder = EnvironmentText("QUOREL_FREEZE_FOLDER");
  if (folder.empty()) return false;
  const std::wstring base = folder + L"\\";
  HANDLE file = CreateFileW((base + request).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  for (int i = 0; i < 100; ++i) {
    if (DeleteFileW((base + answer).c_str())) return true;
    Sleep(50);
  }
  return false;
}

}  // namespace

bool FreezeSoundServer() {
  return AskTheScript(L"freeze", L"frozen");
}

bool ThawSoundServer() {
  return AskTheScript(L"thaw", L"thawed");
}

}  // namespace quorel::test
