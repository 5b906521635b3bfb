// The Win32 clock and the SRW lock with its condition variable.
#include <windows.h>

#include <ctime>

#include "platform/clock.h"
#include "platform/sync.h"
#include "support/portable/case_list.h"

namespace {

quorel::Lock sharedLock;  // static, as the recorder's is: constant-initialised
quorel::Condition sharedCondition;
long long counter = 0;
bool ready = false;

constexpr int kIncrementsPerThread = 200000;

DWORD WINAPI CountUnderTheLock(void*) {
  for (int i = 0; i < kIncrementsPerThread; ++i) {
    quorel::LockGuard guard(sharedLock);
    // Read, yield now and then, write: without the lock the other thread's counts get lost.
    const long long value = counter;
    if (i % 1000 == 0) SwitchToThread();
    counter = value + 1;
  }
  return 0;
}

DWORD WINAPI WaitUntilReady(void* seen) {
  quorel::LockGuard guard(sharedLock);
  while (!ready) sharedCondition.Wait(sharedLock);
  *static_cast<bool*>(seen) = true;
  return 0;
}

}  // namespace

QUOREL_CASE(Clock, LocalTimeAgreesWithTheRuntimeClock) {
  quorel::LocalTime now{};
  std::tm runtime{};
  for (int attempt = 0; attempt < 3; ++attempt) {  // again if a minute turned in between
    const std::time_t seconds = std::time(nullptr);
    now = quorel::CurrentLocalTime();
    runtime = *std::localtime(&seconds);
    if (now.minute == runtime.tm_min) break;
  }
  CHECK_EQ(now.year, runtime.tm_year + 1900);
  CHECK_EQ(now.month, runtime.tm_mon + 1);
  CHECK_EQ(now.day, runtime.tm_mday);
  CHECK_EQ(now.dayOfWeek, runtime.tm_wday);
  CHECK_EQ(now.hour, runtime.tm_hour);
  CHECK_EQ(now.minute, runtime.tm_min);
  CHECK(now.milliseconds < 1000);
}

QUOREL_CASE(Sync, LockKeepsTwoThreadsFromLosingCounts) {
  counter = 0;
  HANDLE threads[2];
  for (HANDLE& thread : threads)
    thread = CreateThread(nullptr, 0, CountUnderTheLock, nullptr, 0, nullptr);
  REQUIRE(threads[0] != nullptr && threads[1] != nullptr);
  WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
  CHECK_EQ(counter, 2LL * kIncrementsPerThread);
}

QUOREL_CASE(Sync, ConditionWakesAWaiterThatThenHoldsTheLock) {
  bool seen = false;
  HANDLE waiter = CreateThread(nullptr, 0, WaitUntilReady, &seen, 0, nullptr);
  REQUIRE(waiter != nullptr);
  {
    quorel::LockGuard guard(sharedLock);
    ready = true;
    sharedCondition.WakeAll();
  }
  WaitForSingleObject(waiter, INFINITE);
  CloseHandle(waiter);
  CHECK(seen);
}
