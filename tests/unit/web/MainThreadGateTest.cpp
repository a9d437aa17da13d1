#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <mutex>

#include "web/MainThreadGate.h"

namespace web {
namespace {

// The main thread's queue, run by the test when it says.
struct Queue {
  std::mutex mutex;
  std::deque<std::function<void()>> calls;
  std::promise<void> posted;

  void Post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(fn));
    posted.set_value();
  }
  void RunAll() {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& call : calls) call();
    calls.clear();
  }
};

using std::chrono::milliseconds;
constexpr milliseconds kLong{60000};

TEST(MainThreadGateTest, ACallGetsTheMainThreadsAnswer) {
  Queue queue;
  MainThreadGate gate([&](std::function<void()> fn) { queue.Post(std::move(fn)); }, kLong);
  auto asked = std::async(std::launch::async, [&] { return gate.Call<int>([] { return 42; }); });
  queue.posted.get_future().wait();
  queue.RunAll();
  EXPECT_EQ(asked.get(), std::optional<int>(42));
}

TEST(MainThreadGateTest, ClosingEndsTheWaitAndACallStillQueuedDoesNothing) {
  Queue queue;
  MainThreadGate gate([&](std::function<void()> fn) { queue.Post(std::move(fn)); }, kLong);
  bool ran = false;
  auto asked = std::async(std::launch::async, [&] {
    return gate.Call<int>([&] {
      ran = true;
      return 1;
    });
  });
  queue.posted.get_future().wait();
  gate.Close();
  EXPECT_EQ(asked.get(), std::nullopt);
  queue.RunAll();
  EXPECT_FALSE(ran);
}

TEST(MainThreadGateTest, AMainThreadThatNeverRunsItIsWaitedForABoundedWhile) {
  Queue queue;
  MainThreadGate gate([&](std::function<void()> fn) { queue.Post(std::move(fn)); },
                      milliseconds(1));
  EXPECT_EQ(gate.Call<int>([] { return 1; }), std::nullopt);
}

}  // namespace
}  // namespace web
