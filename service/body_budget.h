// Memory for request bodies, shared by every connection of the service (I/O thread only). A body
// takes its room before a byte of it is read; one that does not fit waits its turn, first come
// first served, with its reading paused so that TCP holds the client back.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>

namespace quorel::service {

class BodyBudget {
 public:
  explicit BodyBudget(size_t bytes) : capacity_(bytes) {}

  size_t Capacity() const { return capacity_; }
  size_t InUse() const { return inUse_; }
  // Takes bytes (at most Capacity) and returns true when they fit and nobody waits; otherwise
  // queues owner, whose granted is called once the bytes are taken for it.
  bool TakeOrWait(const void* owner, size_t bytes, std::function<void()> granted);
  // Leaves the line without the room.
  void Cancel(const void* owner);
  // Returns room taken before, and grants it on to those waiting, in their order.
  void Give(size_t bytes);

 private:
  struct Waiter {
    const void* owner;
    size_t bytes;
    std::function<void()> granted;
  };

  const size_t capacity_;
  size_t inUse_ = 0;
  std::deque<Waiter> waiting_;
};

}  // namespace quorel::service
