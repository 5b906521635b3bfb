#include <windows.h>

#include "platform/sync.h"

namespace quorel {

namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

SRWLOCK* AsSrwLock(void** word) {
  return reinterpret_cast<SRWLOCK*>(word);
}
CONDITION_VARIABLE* AsConditionVariable(void** word) {
  return reinterpret_cast<CONDITION_VARIABLE*>(word);
}

}  // namespace

void Lock::Acquire() {
  AcquireSRWLockExclusive(AsSrwLock(&native_));
}

void Lock::Release() {
  ReleaseSRWLockExclusive(AsSrwLock(&native_));
}

void Condition::Wait(Lock& lock) {
  SleepConditionVariableSRW(AsConditionVariable(&native_), AsSrwLock(&lock.native_), INFINITE, 0);
}

void Condition::WakeAll() {
  WakeAllConditionVariable(AsConditionVariable(&native_));
}

}  // namespace quorel
