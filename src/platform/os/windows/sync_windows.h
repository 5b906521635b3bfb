// The storage of Lock and Condition (platform/sync.h) on Windows: the one pointer-sized word
// that SRWLOCK and CONDITION_VARIABLE hold, zero when unused (SRWLOCK_INIT and
// CONDITION_VARIABLE_INIT), so <windows.h> stays out of the portable code that includes it.
#pragma once

namespace quorel {

using NativeLock = void*;
using NativeCondition = void*;
inline constexpr NativeLock kUnusedNativeLock = nullptr;
inline constexpr NativeCondition kUnusedNativeCondition = nullptr;

}  // namespace quorel
