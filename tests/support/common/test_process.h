// What every test program checks about its own process, and the UTF-16 it hands the library.
#pragma once

#include <cstddef>
#include <string>

namespace quorel::test {

size_t OpenDescriptorCount();
// Heap bytes in use (the sanitizer's count under AddressSanitizer). Exact only with glibc's
// per-thread caches and fast bins off (GLIBC_TUNABLES=glibc.malloc.tcache_count=0:
// glibc.malloc.mxfast=0), which would otherwise count freed blocks as in use.
size_t HeapBytesInUse();

// What a path of the library must not leave behind.
struct Footprint {
  size_t heapBytes;
  size_t descriptors;
  size_t threads;
};
Footprint FootprintNow();
// Threads of this process, once any that were just joined have gone.
size_t ThreadCount();

// An ASCII path or key as the library receives it.
std::u16string Utf16(const std::string& ascii);

}  // namespace quorel::test
