// The shared library's exports as nm lists them, and its side of the shared module cases: dlopen
// and dlclose, and the counts under /proc/self.
#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

#include "support/common/test_process.h"
#include "support/portable/case_list.h"

namespace quorel::test {

std::string LoadAndUnloadFaults() {
  void* library = dlopen(QUOREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return dlerror();
  const bool found = dlsym(library, "QuorelSoundRecorderStop") != nullptr;
  if (dlclose(library) != 0) return dlerror();
  return found ? "" : "no QuorelSoundRecorderStop";
}

std::string ProcessFootprint() {
  return std::to_string(ThreadCount()) + " threads, " + std::to_string(OpenDescriptorCount()) +
         " descriptors";
}

}  // namespace quorel::test

QUOREL_CASE(Module, ExportsExactlyTheThreeFunctions) {
  std::set<std::string> names;
  FILE* pipe = popen("nm -D --defined-only " QUOREL_LIBRARY_PATH, "r");
  char line[512], address[64], type[8], name[400];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) {
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
  }
  REQUIRE(pipe != nullptr);
  pclose(pipe);
  const std::set<std::string> expected{"QuorelSpeech", "QuorelSoundRecorderStart",
                                       "QuorelSoundRecorderStop"};
  CHECK(names == expected);
}
