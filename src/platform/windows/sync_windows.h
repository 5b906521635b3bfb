#pragma once

// A slim reader/writer lock and a condition variable. Their storage is the one pointer-sized
// word that SRWLOCK and CONDITION_VARIABLE hold, zero when unused, so <windows.h> stays out of
// the portable code that includes this header.
namespace quorel {

class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire();
  void Release();

 private:
  friend class Condition;
  void* srwLock_ = nullptr;  // SRWLOCK_INIT
};

class Condition {
 public:
  constexpr Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Releases lock while waiting and holds it again on return; may return spuriously.
  void Wait(Lock& lock);
  void WakeAll();

 private:
  void* conditionVariable_ = nullptr;  // CONDITION_VARIABLE_INIT
};

}  // namespace quorel
