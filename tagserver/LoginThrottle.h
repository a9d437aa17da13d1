// Slows password guessing: after a few failed logins from one client address
// or for one user name, each further failure is answered later, twice as
// late each time up to a cap. Only failures wait, so the owner of a name
// under attack still logs in at once. The table is bounded; a record is
// forgotten a while after its last failure, or, when the table is full,
// the one idle longest goes first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace tagserver {

class LoginThrottle {
 public:
  static constexpr uint32_t kFreeFailures = 3;
  static constexpr int64_t kFirstDelayMs = 250;
  static constexpr int64_t kMaxDelayMs = 4000;
  static constexpr int64_t kForgetMs = 15 * 60 * 1000;
  static constexpr size_t kMaxRecords = 4096;
  // Enough to reach the cap; counting on would only risk overflow.
  static constexpr uint32_t kMaxCounted = kFreeFailures + 16;

  // Counts a failure and returns how long its answer waits.
  int64_t Failed(const std::string& address, const std::string& user, int64_t nowMs);
  // A good password clears the count of its address and its user.
  void Succeeded(const std::string& address, const std::string& user);
  size_t Size() const { return m_records.size(); }

 private:
  struct Record {
    uint32_t failures = 0;
    int64_t lastMs = 0;
  };
  // The failures before this one.
  uint32_t Count(const std::string& key, int64_t nowMs);
  void MakeRoom(int64_t nowMs);
  static int64_t Delay(uint32_t failuresBefore);

  std::unordered_map<std::string, Record> m_records;
};

}  // namespace tagserver
