// Password logins, checked off the server thread: a password hash takes tens
// of milliseconds on purpose, and the server thread serves every client.
// The result comes back to the server thread; a failure comes back as late
// as the throttle says, on a timer, so that nothing waits for it. How many
// logins may be outstanding is bounded per client address and in all.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tagserver/LoginThrottle.h"
#include "tagserver/UserDirectory.h"
#include "tagserver/WorkerPool.h"

namespace tagserver {

class UserLogins {
 public:
  // The user's role, or nullopt for a wrong name or password.
  using Done = std::function<void(std::optional<UserRole>)>;
  static constexpr size_t kHashThreads = 2;
  static constexpr size_t kMaxPendingPerAddress = 4;
  static constexpr size_t kMaxPending = 64;

  // Results still on their way when it goes are dropped.
  explicit UserLogins(asio::io_context& io) : m_io(io) {}

  // Starts checking; done runs later on the server thread. False, and
  // nothing started, when too many logins are outstanding.
  // address: the client's address alone, which the limits count by.
  bool Start(std::shared_ptr<const UserDirectory> users, std::string address,
             std::string user, std::string password, Done done);
  // Failure answers waiting out the throttle's delay.
  size_t Delayed() const { return m_delays.size(); }

 private:
  struct Attempt {
    std::string address;
    std::string user;
    Done done;
  };
  void Checked(const std::shared_ptr<Attempt>& attempt, std::optional<UserRole> role);
  void Answer(const Attempt& attempt, std::optional<UserRole> role);

  asio::io_context& m_io;
  LoginThrottle m_throttle;
  std::map<std::string, size_t> m_pendingByAddress;
  size_t m_nPending = 0;
  uint64_t m_nNextDelay = 0;
  std::map<uint64_t, std::unique_ptr<asio::steady_timer>> m_delays;
  // What posted results and timers look at before touching this object.
  std::shared_ptr<int> m_alive = std::make_shared<int>(0);
  // Last, so that it goes first: no job runs once the rest is gone.
  WorkerPool m_workers{kHashThreads};
};

}  // namespace tagserver
