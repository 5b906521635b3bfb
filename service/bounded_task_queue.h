// The HTTP layer's pool: a fixed number of workers and a bounded line of accepted connections.
// When the line is full the accepting thread waits, so further clients wait in the kernel's
// listen backlog instead of in memory.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorel::service {

class BoundedTaskQueue : public httplib::TaskQueue {
 public:
  BoundedTaskQueue(size_t workers, size_t waitingCapacity) : capacity_(waitingCapacity) {
    for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~BoundedTaskQueue() override { shutdown(); }

  void enqueue(std::function<void()> task) override {
    std::unique_lock<std::mutex> lock(mutex_);
    roomFreed_.wait(lock, [this] { return tasks_.size() < capacity_; });
    tasks_.push_back(std::move(task));
    taskAdded_.notify_one();
  }

  // Runs what is waiting, then ends the workers.
  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    taskAdded_.notify_all();
    for (std::thread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        taskAdded_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      roomFreed_.notify_one();
      task();
    }
  }

  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable taskAdded_;
  std::condition_variable roomFreed_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quorel::service
