#include "tagserver/UserLogins.h"

#include "tagserver/UaTypes.h"

namespace tagserver {

bool UserLogins::Start(std::shared_ptr<const UserDirectory> users, std::string address,
                       std::string user, std::string password, Done done) {
  size_t& pending = m_pendingByAddress[address];
  if (pending >= kMaxPendingPerAddress || m_nPending >= kMaxPending) {
    if (pending == 0) m_pendingByAddress.erase(address);
    return false;
  }
  ++pending;
  ++m_nPending;
  auto attempt = std::make_shared<Attempt>(Attempt{std::move(address), user, std::move(done)});
  m_workers.Run([this, alive = std::weak_ptr<int>(m_alive), users = std::move(users),
                 user = std::move(user), password = std::move(password), attempt] {
    std::optional<UserRole> role = users->Authenticate(user, password);
    asio::post(m_io, [this, alive, attempt, role] {
      if (alive.lock()) Checked(attempt, role);
    });
  });
  return true;
}

void UserLogins::Checked(const std::shared_ptr<Attempt>& attempt, std::optional<UserRole> role) {
  if (role) {
    m_throttle.Succeeded(attempt->address, attempt->user);
    Answer(*attempt, role);
    return;
  }
  const int64_t delayMs = m_throttle.Failed(attempt->address, attempt->user, SteadyMs());
  if (delayMs == 0) {
    Answer(*attempt, std::nullopt);
    return;
  }
  const uint64_t id = m_nNextDelay++;
  auto timer = std::make_unique<asio::steady_timer>(m_io, std::chrono::milliseconds(delayMs));
  timer->async_wait([this, alive = std::weak_ptr<int>(m_alive), id, attempt](asio::error_code ec) {
    if (ec || !alive.lock()) return;
    m_delays.erase(id);
    Answer(*attempt, std::nullopt);
  });
  m_delays.emplace(id, std::move(timer));
}

void UserLogins::Answer(const Attempt& attempt, std::optional<UserRole> role) {
  if (--m_pendingByAddress[attempt.address] == 0) m_pendingByAddress.erase(attempt.address);
  --m_nPending;
  attempt.done(role);
}

}  // namespace tagserver
