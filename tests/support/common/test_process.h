// What every test program checks about its own process, and the UTF-16 it hands the library.
#pragma once

#include <cstddef>
#include <string>

namespace quorel::test {

size_t OpenDescriptorCount();
// Threads of this process, once any that were just joined have gone.
size_t ThreadCount();

// An ASCII path or key as the library receives it.
std::u16string Utf16(const std::string& ascii);

}  // namespace quorel::test
