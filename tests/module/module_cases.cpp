// The library's boundary on both systems: what it exports and what loading it costs. Each
// system's file (library_boundary_linux.cpp, tests/windows/module_test.cpp) defines the three
// functions below with its own loader.
#include <set>
#include <string>

#include "support/portable/case_list.h"

namespace quorel::test {

std::set<std::string> ExportedNames();
// Loads the library, looks up QuorelSoundRecorderStop and unloads it; what went wrong.
std::string LoadAndUnloadFaults();
// What an unload has to give back: this process's threads and handles (descriptors), as text.
std::string ProcessFootprint();

}  // namespace quorel::test

using namespace quorel::test;

QUOREL_CASE(Module, ExportsExactlyTheThreeFunctionsByName) {
  std::string names;
  for (const std::string& name : ExportedNames()) names += name + " ";
  CHECK_EQ(names, "QuorelSoundRecorderStart QuorelSoundRecorderStop QuorelSpeech ");
}

QUOREL_CASE(Module, LoadingAndUnloadingLeavesNoThreadOrHandle) {
  // The first load maps the libraries it depends on (TLS, audio), which may stay.
  REQUIRE(CHECK_NO_FAULTS(LoadAndUnloadFaults()));
  const std::string footprint = ProcessFootprint();
  for (int i = 0; i < 100; ++i) REQUIRE(CHECK_NO_FAULTS(LoadAndUnloadFaults()));
  CHECK_EQ(ProcessFootprint(), footprint);
}
