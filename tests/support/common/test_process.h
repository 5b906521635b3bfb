// What every test program checks about its own process, the environment it hands its children
// and the UTF-16 it hands the library.
#pragma once

#include <cstddef>
#include <string>

namespace quorel::test {

size_t OpenDescriptorCount();
// Threads of this process, once any that were just joined have gone.
size_t ThreadCount();

// Sets each KEY=VALUE line of lines in this process's environment, and so its children's.
void ExportEnvironmentLines(const std::string& lines);

// An ASCII path or key as the library receives it.
std::u16string Utf16(const std::string& ascii);

}  // namespace quorel::test
