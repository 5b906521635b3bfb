// What a call may leave behind in this process: heap in use, descriptors and threads. The heap
// is counted with glibc's per-thread caches and fast bins off (GLIBC_TUNABLES, set by the
// test's CTest entry), which would otherwise count freed blocks as in use.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>

namespace quorel::test {

struct Footprint {
  size_t heapBytes;
  size_t descriptors;
  size_t threads;
};
Footprint FootprintNow();

// Runs path a few times first (libraries fill caches of their own on the first calls: free
// lists, session state), then in rounds of several calls: success once the heap in use holds
// still over a round, within a few hundred bytes that come and go with the sound server's
// client, and the descriptors and threads after the round equal those before.
::testing::AssertionResult LeavesNothingBehind(const std::function<void()>& path);

}  // namespace quorel::test
