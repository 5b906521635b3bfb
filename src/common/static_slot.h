// Room for one object in static storage whose life the owner starts and ends explicitly.
// Holding a class with a destructor directly in a static record would make the compiler
// register that destructor when the library loads; the slot itself is trivial, so a static
// record holding it is constant-initialised and costs nothing at load or unload.
#pragma once

#include <new>
#include <utility>

namespace quorel {

template <typename T>
class StaticSlot {
 public:
  constexpr StaticSlot() = default;
  StaticSlot(const StaticSlot&) = delete;
  StaticSlot& operator=(const StaticSlot&) = delete;

  // The slot must be empty.
  template <typename... Arguments>
  T& Construct(Arguments&&... arguments) {
    return *new (storage_) T(std::forward<Arguments>(arguments)...);
  }
  // The slot must hold an object.
  void Destroy() { Get().~T(); }
  T& Get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)]{};
};

}  // namespace quorel
