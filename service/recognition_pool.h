// Recognition runs here, apart from the connections' I/O: a fixed number of workers and a
// bounded line of waiting jobs. When the line is full a job is refused at once, so the caller
// can answer 503 instead of holding the request in memory for an unknown time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorel::service {

class RecognitionPool {
 public:
  RecognitionPool(size_t workers, size_t waitingCapacity);
  // Runs every job already taken, then ends the workers.
  ~RecognitionPool();
  RecognitionPool(const RecognitionPool&) = delete;
  RecognitionPool& operator=(const RecognitionPool&) = delete;

  // False when the line of waiting jobs is full; the job is then not run.
  bool TrySubmit(std::function<void()> job);

 private:
  void Work();

  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable jobAdded_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quorel::service
