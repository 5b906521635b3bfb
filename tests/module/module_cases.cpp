// The library's boundary on both systems: loading it costs nothing that unloading does not give
// back. Each system's file (library_boundary_linux.cpp, tests/windows/module_test.cpp) defines
// the two functions below with its own loader.
#include <string>

#include "support/portable/case_list.h"

namespace quorel::test {

// Loads the library, looks up QuorelSoundRecorderStop and unloads it; what went wrong.
std::string LoadAndUnloadFaults();
// What an unload has to give back: this process's threads and handles (descriptors), as text.
std::string ProcessFootprint();

}  // namespace quorel::test

QUOREL_CASE(Module, LoadingAndUnloadingLeavesNoThreadOrHandle) {
  using namespace quorel::test;
  // The first load maps the libraries it depends on (TLS, audio), which may stay.
  REQUIRE(CHECK_NO_FAULTS(LoadAndUnloadFaults()));
  const std::string footprint = ProcessFootprint();
  for (int i = 0; i < 100; ++i) REQUIRE(CHECK_NO_FAULTS(LoadAndUnloadFaults()));
  CHECK_EQ(ProcessFootprint(), footprint);
}
