// The Wine runner of the shared case list: one line per case and a closing tally.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/portable/case_list.h"

namespace quorel::test {

namespace {
bool currentFailed = false;
}  // namespace

void Fail(const char* file, int line, const std::string& message) {
  std::printf("  %s:%d: %s\n", file, line, message.c_str());
  currentFailed = true;
}

}  // namespace quorel::test

namespace {

bool Selected(const std::string& name, int argc, char** argv) {
  if (argc < 2) return true;
  for (int i = 1; i < argc; ++i) {
    if (name.compare(0, std::strlen(argv[i]), argv[i]) == 0) return true;
  }
  return false;
}

}  // namespace

// Runs every case whose name starts with one of the arguments (all without any) and ends with
// the tally line that scripts/test-windows.sh adds up.
int main(int argc, char** argv) {
  int passed = 0, failed = 0;
  for (const quorel::test::Case& testCase : quorel::test::Cases()) {
    const std::string name = std::string(testCase.group) + "." + testCase.name;
    if (!Selected(name, argc, argv)) continue;
    quorel::test::currentFailed = false;
    std::printf("[ RUN  ] %s\n", name.c_str());
    std::fflush(stdout);
    testCase.function();
    std::printf("[ %s ] %s\n", quorel::test::currentFailed ? "FAIL" : " OK ", name.c_str());
    std::fflush(stdout);
    ++(quorel::test::currentFailed ? failed : passed);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
