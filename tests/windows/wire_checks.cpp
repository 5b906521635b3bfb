#include "wire_checks.h"

#include <windows.h>

#include <cstdlib>

#include "support/portable/file_bytes.h"
#include "support/portable/wire_request.h"

namespace quorel::test {

std::wstring EnvironmentText(const std::string& name) {
  wchar_t value[1024];
  const std::wstring wideName(name.begin(), name.end());
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

uint16_t ServerPort(const char* name) {
  const std::wstring value = EnvironmentText(std::string("QUOREL_PORT_") + name);
  return static_cast<uint16_t>(std::wcstoul(value.c_str(), nullptr, 10));
}

RecordedRequests::RecordedRequests(const char* name)
    : folder_(EnvironmentText(std::string("QUOREL_RECORDS_") + name)) {}

size_t RecordedRequests::Count() const {
  size_t count = 0;
  while (!folder_.empty() &&
         FileExists(folder_ + L"\\request-" + std::to_wstring(count + 1) + L".bin")) {
    ++count;
  }
  return count;
}

std::string RecordedRequests::Wait(size_t index, bool whole) const {
  const std::wstring path = folder_ + L"\\request-" + std::to_wstring(index) + L".bin";
  // The server writes each file once its exchange is over, a moment after the client is done.
  for (int attempt = 0; attempt < 600 && !folder_.empty(); ++attempt) {
    if (FileExists(path)) {
      const std::string raw = ReadFile(path);
      if (!whole || ParseRequest(raw).complete) return raw;
    }
    Sleep(50);
  }
  return "<none>";
}

}  // namespace quorel::test
