#include "support/common/resource_footprint.h"

#include <malloc.h>

#include "support/common/test_process.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace quorel::test {
namespace {

// The libraries below fill caches of their own on the first calls (free lists, session
// state); after these the heap in use must hold still over kRepeats more. A few hundred bytes
// still come and go with the sound server's client from take to take, more on a loaded machine,
// so the check allows kHeapSlackBytes and up to kRounds rounds of kRepeats calls: a leak of 64
// bytes or more on every call exceeds the slack in every round (the smallest record the library
// itself allocates per recording, its audio input, is larger), while the sound server's bytes
// do not grow round after round.
constexpr int kWarmUps = 2;
constexpr int kRepeats = 8;
constexpr int kRounds = 3;
constexpr size_t kHeapSlackBytes = 512;

size_t HeapBytesInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

}  // namespace

Footprint FootprintNow() {
  return {HeapBytesInUse(), OpenDescriptorCount(), ThreadCount()};
}

::testing::AssertionResult LeavesNothingBehind(const std::function<void()>& path) {
  for (int i = 0; i < kWarmUps; ++i) path();
  ::testing::AssertionResult result = ::testing::AssertionFailure();
  for (int round = 0; round < kRounds; ++round) {
    const Footprint before = FootprintNow();
    for (int i = 0; i < kRepeats; ++i) path();
    const Footprint after = FootprintNow();
    if (after.heapBytes <= before.heapBytes + kHeapSlackBytes &&
        after.descriptors == before.descriptors && after.threads == before.threads) {
      return ::testing::AssertionSuccess();
    }
    result << "after " << kRepeats << " calls: heap " << before.heapBytes << " -> "
           << after.heapBytes << " bytes, descriptors " << before.descriptors << " -> "
           << after.descriptors << ", threads " << before.threads << " -> " << after.threads
           << "; ";
  }
  return result;
}

}  // namespace quorel::test
