#include "recognition_pool.h"

namespace quorel::service {

RecognitionPool::RecognitionPool(size_t workers, size_t waitingCapacity)
    : capacity_(waitingCapacity) {
  for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

RecognitionPool::~RecognitionPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  jobAdded_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool RecognitionPool::TrySubmit(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (jobs_.size() >= capacity_) return false;
    jobs_.push_back(std::move(job));
  }
  jobAdded_.notify_one();
  return true;
}

void RecognitionPool::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobAdded_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace quorel::service
