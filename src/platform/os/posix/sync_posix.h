// The storage of Lock and Condition (platform/sync.h) on POSIX threads.
#pragma once

#include <pthread.h>

namespace quorel {

using NativeLock = pthread_mutex_t;
using NativeCondition = pthread_cond_t;
inline constexpr NativeLock kUnusedNativeLock = PTHREAD_MUTEX_INITIALIZER;
inline constexpr NativeCondition kUnusedNativeCondition = PTHREAD_COND_INITIALIZER;

}  // namespace quorel
