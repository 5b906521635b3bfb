#pragma once

#include <pthread.h>

namespace quorel {

class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire() { pthread_mutex_lock(&mutex_); }
  void Release() { pthread_mutex_unlock(&mutex_); }

 private:
  friend class Condition;
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

class Condition {
 public:
  constexpr Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Releases lock while waiting and holds it again on return; may return spuriously.
  void Wait(Lock& lock) { pthread_cond_wait(&cond_, &lock.mutex_); }
  void WakeAll() { pthread_cond_broadcast(&cond_); }

 private:
  pthread_cond_t cond_ = PTHREAD_COND_INITIALIZER;
};

}  // namespace quorel
