#include "body_budget.h"

#include <algorithm>
#include <vector>

namespace quorel::service {

bool BodyBudget::TakeOrWait(const void* owner, size_t bytes, std::function<void()> granted) {
  if (waiting_.empty() && capacity_ - inUse_ >= bytes) {
    inUse_ += bytes;
    return true;
  }
  waiting_.push_back({owner, bytes, std::move(granted)});
  return false;
}

void BodyBudget::Cancel(const void* owner) {
  const auto found = std::find_if(waiting_.begin(), waiting_.end(),
                                  [owner](const Waiter& waiter) { return waiter.owner == owner; });
  if (found == waiting_.end()) return;
  const bool first = found == waiting_.begin();
  waiting_.erase(found);
  if (first) Give(0);  // those behind it may fit now
}

void BodyBudget::Give(size_t bytes) {
  inUse_ -= std::min(bytes, inUse_);
  // Granted ones are called once the line is settled: a call may give or take room again.
  std::vector<std::function<void()>> granted;
  while (!waiting_.empty() && capacity_ - inUse_ >= waiting_.front().bytes) {
    inUse_ += waiting_.front().bytes;
    granted.push_back(std::move(waiting_.front().granted));
    waiting_.pop_front();
  }
  for (const auto& call : granted) call();
}

}  // namespace quorel::service
