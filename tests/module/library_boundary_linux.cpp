// The shared library's exports as nm lists them, and its side of the shared module cases: dlopen
// and dlclose, the counts under /proc/self, and the recorder's exports of the library loaded.
#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

#include "recorder/recorder_exports.h"
#include "support/common/test_process.h"
#include "support/portable/case_list.h"

namespace quorel::test {

struct RecorderExports::Library {
  void* handle = dlopen(QUOREL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  using Start = int32_t (*)(const char16_t*);
  using Stop = int32_t (*)();
  Start start = handle != nullptr
                    ? reinterpret_cast<Start>(dlsym(handle, "QuorelSoundRecorderStart"))
                    : nullptr;
  Stop stop = handle != nullptr ? reinterpret_cast<Stop>(dlsym(handle, "QuorelSoundRecorderStop"))
                                : nullptr;
};

RecorderExports::RecorderExports() : library_(new Library) {}
RecorderExports::~RecorderExports() {
  if (library_->handle != nullptr) dlclose(library_->handle);
  delete library_;
}

bool RecorderExports::Loaded() const {
  return library_->start != nullptr && library_->stop != nullptr;
}

int32_t RecorderExports::Start(const PathText& path) const {
  const std::u16string text(path.begin(), path.end());
  return library_->start(text.c_str());
}

int32_t RecorderExports::Stop() const {
  return library_->stop();
}

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
