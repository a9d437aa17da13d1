#include "link/ReconnectBackoff.h"

#include <algorithm>

void ReconnectBackoff::Lost(LinkClock::time_point now) {
  m_bArmed = true;
  m_due = now;
  m_delay = kFirstDelay;
}

void ReconnectBackoff::Failed(LinkClock::time_point now) {
  m_bArmed = true;
  m_due = now + m_delay;
  m_delay = std::min(m_delay * 2, kLongestDelay);
}

void ReconnectBackoff::Connected() {
  m_bArmed = false;
  m_delay = kFirstDelay;
}
