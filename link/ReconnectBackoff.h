// When a Modbus/TCP endpoint that lost its connection tries again: at once,
// then after 1, 2 and then every 4 seconds until a connection comes up, so
// that a server is polled again within 5 s of its return however long it
// was away. An attempt is a plain TCP connect, cheap for both ends, and the
// library logs one line per change, not one per attempt. The minute timer
// of the main frame runs besides.
#pragma once

#include "link/LinkClock.h"

class ReconnectBackoff {
 public:
  static constexpr std::chrono::seconds kFirstDelay{1};
  static constexpr std::chrono::seconds kLongestDelay{4};

  // The connection dropped or was closed: the next attempt is due now.
  void Lost(LinkClock::time_point now);
  // An attempt came to nothing: the next one waits twice as long as the last.
  void Failed(LinkClock::time_point now);
  void Connected();
  bool IsDue(LinkClock::time_point now) const { return m_bArmed && now >= m_due; }
  // An attempt is under way; its outcome arms the next one.
  void Attempting() { m_bArmed = false; }
  std::chrono::seconds NextDelay() const { return m_delay; }

 private:
  bool m_bArmed = false;
  LinkClock::time_point m_due{};
  std::chrono::seconds m_delay = kFirstDelay;
};
