#include "platform/sync.h"

namespace quorel {

void Lock::Acquire() {
  pthread_mutex_lock(&native_);
}

void Lock::Release() {
  pthread_mutex_unlock(&native_);
}

void Condition::Wait(Lock& lock) {
  pthread_cond_wait(&native_, &lock.native_);
}

void Condition::WakeAll() {
  pthread_cond_broadcast(&native_);
}

}  // namespace quorel
