// The shared library's boundary: what it exports and what loading it costs.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "support/common/test_process.h"

namespace {

std::set<std::string> DefinedDynamicSymbols(const char* library) {
  std::set<std::string> names;
  const std::string command = std::string("nm -D --defined-only ") + library;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST(LibraryBoundary, ExportsExactlyTheThreeFunctions) {
  const std::set<std::string> expected{"QuorelSpeech", "QuorelSoundRecorderStart",
                                       "QuorelSoundRecorderStop"};
  EXPECT_EQ(DefinedDynamicSymbols(QUOREL_LIBRARY_PATH), expected);
}

TEST(LibraryBoundary, LoadingAndUnloadingLeavesNoThreadOrDescriptor) {
  // The first load pulls in the dependencies (TLS, audio), which may stay mapped; measure after.
  void* first = dlopen(QUOREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(first, nullptr) << dlerror();
  dlclose(first);
  const size_t threads = quorel::test::ThreadCount();
  const size_t descriptors = quorel::test::OpenDescriptorCount();
  for (int i = 0; i < 200; ++i) {
    void* library = dlopen(QUOREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_NE(dlsym(library, "QuorelSoundRecorderStop"), nullptr);
    ASSERT_EQ(dlclose(library), 0);
  }
  EXPECT_EQ(quorel::test::ThreadCount(), threads);
  EXPECT_EQ(quorel::test::OpenDescriptorCount(), descriptors);
}

}  // namespace
