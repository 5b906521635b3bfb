#include "harness.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace quorel::test {

namespace {

struct Case {
  const char* name;
  CaseFunction function;
};

std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

bool currentFailed = false;

}  // namespace

CaseRegistration::CaseRegistration(const char* name, CaseFunction function) {
  Cases().push_back({name, function});
}

void Describe(std::ostream& stream, const std::wstring& text) {
  for (wchar_t unit : text) stream << (unit < 0x80 ? static_cast<char>(unit) : '?');
}

void Fail(const char* file, int line, const std::string& message) {
  std::printf("  %s:%d: %s\n", file, line, message.c_str());
  currentFailed = true;
}

bool CheckNoFaults(const char* file, int line, const char* text, const std::string& faults) {
  if (faults.empty()) return true;
  Fail(file, line, std::string(text) + ": " + faults);
  return false;
}

}  // namespace quorel::test

namespace {

bool Selected(const char* name, int argc, char** argv) {
  if (argc < 2) return true;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(name, argv[i], std::strlen(argv[i])) == 0) return true;
  }
  return false;
}

}  // namespace

// Runs every case whose name starts with one of the arguments (all without any) and ends with
// the tally line that scripts/test-windows.sh adds up.
int main(int argc, char** argv) {
  int passed = 0, failed = 0;
  for (const quorel::test::Case& testCase : quorel::test::Cases()) {
    if (!Selected(testCase.name, argc, argv)) continue;
    quorel::test::currentFailed = false;
    std::printf("[ RUN  ] %s\n", testCase.name);
    std::fflush(stdout);
    testCase.function();
    std::printf("[ %s ] %s\n", quorel::test::currentFailed ? "FAIL" : " OK ", testCase.name);
    std::fflush(stdout);
    ++(quorel::test::currentFailed ? failed : passed);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
