#include "ui/PollClock.h"

#include <QTimerEvent>

#include "pointdb/PelmoranDoc.h"

PollClock::PollClock(CPelmoranDoc& doc, QObject* parent) : QObject(parent), m_doc(doc) {
  m_nTimer = ArmTimer(m_doc.m_scan.m_nPollFrequency);
}

PollClock::~PollClock() = default;

int PollClock::ArmTimer(int milliseconds) {
  // As with the window system's timers, a period below 10 ms (a damaged
  // scan file can hold 0 or less) ticks every 10 ms rather than spinning.
  return startTimer(milliseconds < kMinimumPeriodMs ? kMinimumPeriodMs : milliseconds);
}

void PollClock::OnScanComplete() {
  m_bScanInProgress = false;
  RefreshTagValues();
}

void PollClock::SetPollFrequency(int milliseconds) {
  if (m_nTimer != 0) killTimer(m_nTimer);
  m_doc.m_scan.m_nPollFrequency = milliseconds;
  // An outstanding poll stays outstanding: the flag is left as it is.
  m_nTimer = ArmTimer(milliseconds);
}

void PollClock::RefreshTagValues() { emit tagValuesRefreshed(); }

void PollClock::OnTimer(int timerId) {
  if (timerId != m_nTimer || m_nTimer == 0) return;
  if (m_bScanInProgress) return;
  // Set before the call: a poll refused at once completes inside Poll().
  m_bScanInProgress = true;
  if (m_doc.Poll() == 0) m_bScanInProgress = false;
}

void PollClock::timerEvent(QTimerEvent* event) { OnTimer(event->timerId()); }
