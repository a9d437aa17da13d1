#include "tagserver/WorkerPool.h"

#include <sys/resource.h>
#include <unistd.h>

namespace tagserver {

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopping = true;
    m_jobs.clear();
  }
  m_wake.notify_all();
  for (std::thread& t : m_threads) t.join();
}

void WorkerPool::Run(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.push_back(std::move(job));
    if (m_threads.size() < m_nThreads) m_threads.emplace_back([this] { Work(); });
  }
  m_wake.notify_one();
}

void WorkerPool::Work() {
  // Below the server thread, which answers every client, when the cores are
  // busy.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice);
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
    if (m_bStopping) return;
    std::function<void()> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace tagserver
