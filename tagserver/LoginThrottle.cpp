#include "tagserver/LoginThrottle.h"

#include <algorithm>

namespace tagserver {

namespace {

// Addresses and names share the table without one passing for the other.
std::string AddressKey(const std::string& address) { return "a:" + address; }
std::string UserKey(const std::string& user) { return "u:" + user; }

}  // namespace

int64_t LoginThrottle::Failed(const std::string& address, const std::string& user, int64_t nowMs) {
  const uint32_t before = std::max(Count(AddressKey(address), nowMs), Count(UserKey(user), nowMs));
  return Delay(before);
}

void LoginThrottle::Succeeded(const std::string& address, const std::string& user) {
  m_records.erase(AddressKey(address));
  m_records.erase(UserKey(user));
}

uint32_t LoginThrottle::Count(const std::string& key, int64_t nowMs) {
  auto it = m_records.find(key);
  if (it != m_records.end() && nowMs - it->second.lastMs > kForgetMs) {
    m_records.erase(it);
    it = m_records.end();
  }
  if (it == m_records.end()) {
    MakeRoom(nowMs);
    it = m_records.emplace(key, Record{}).first;
  }
  Record& record = it->second;
  const uint32_t before = record.failures;
  record.failures = std::min(record.failures + 1, kMaxCounted);
  record.lastMs = nowMs;
  return before;
}

void LoginThrottle::MakeRoom(int64_t nowMs) {
  if (m_records.size() < kMaxRecords) return;
  std::erase_if(m_records, [&](const auto& r) { return nowMs - r.second.lastMs > kForgetMs; });
  if (m_records.size() < kMaxRecords) return;
  auto oldest = std::min_element(
      m_records.begin(), m_records.end(),
      [](const auto& a, const auto& b) { return a.second.lastMs < b.second.lastMs; });
  m_records.erase(oldest);
}

int64_t LoginThrottle::Delay(uint32_t failuresBefore) {
  if (failuresBefore < kFreeFailures) return 0;
  const uint32_t doublings = failuresBefore - kFreeFailures;
  return std::min(kFirstDelayMs << doublings, kMaxDelayMs);
}

}  // namespace tagserver
