// A few threads for work too slow for the server thread (password hashes).
// Jobs run in the order given; their results reach the server thread by
// whatever the job posts there.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tagserver {

class WorkerPool {
 public:
  static constexpr int kNice = 10;

  explicit WorkerPool(size_t threads) : m_nThreads(threads) {}
  // Jobs not yet started are dropped; running ones are waited for.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The threads start with the first job, so a server nobody logs in to
  // has none.
  void Run(std::function<void()> job);

 private:
  void Work();

  size_t m_nThreads;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_jobs;
  std::vector<std::thread> m_threads;
  bool m_bStopping = false;
};

}  // namespace tagserver
