// The server's threads reach the program's state only through this gate: a
// call is posted to the main thread, and the thread that asked waits for its
// answer a bounded while. Once the gate is closed (the server stopping, on
// the main thread) every wait ends at once and a call still queued does
// nothing, so the main thread never waits for a server thread that waits for
// it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace web {

class MainThreadGate {
 public:
  using Poster = std::function<void(std::function<void()>)>;

  MainThreadGate(Poster post, std::chrono::milliseconds patience)
      : m_post(std::move(post)), m_patience(patience) {}
  ~MainThreadGate() { Close(); }
  MainThreadGate(const MainThreadGate&) = delete;
  MainThreadGate& operator=(const MainThreadGate&) = delete;

  // Any thread but the main one. fn's result, or nullopt when the main thread
  // did not run it in time or the gate was closed.
  template <class T>
  std::optional<T> Call(std::function<T()> fn) {
    auto slot = std::make_shared<std::optional<T>>();
    std::shared_ptr<State> state = m_state;
    m_post([state, slot, fn = std::move(fn)] {
      if (state->Closed()) return;
      T result = fn();
      state->Settle([&] { *slot = std::move(result); });
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    state->settled.wait_for(lock, m_patience, [&] { return slot->has_value() || state->closed; });
    return slot->has_value() ? std::move(*slot) : std::nullopt;
  }

  // Main thread.
  void Close() { m_state->Settle([this] { m_state->closed = true; }); }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable settled;
    bool closed = false;

    bool Closed() {
      std::lock_guard<std::mutex> lock(mutex);
      return closed;
    }
    template <class F>
    void Settle(F change) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        change();
      }
      settled.notify_all();
    }
  };

  Poster m_post;
  std::chrono::milliseconds m_patience;
  std::shared_ptr<State> m_state = std::make_shared<State>();
};

}  // namespace web
