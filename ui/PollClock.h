// The clock of one scan's polls: a timer at the scan's poll frequency whose
// ticks ask the document to poll, never with more than one poll outstanding.
// It needs no widget, so the headless program gives every document one; the
// window program's tag list view is built on it and refreshes its rows when
// tagValuesRefreshed is emitted.
#pragma once

#include <QObject>
#include <cstdint>

#include "pointdb/ScanView.h"

class CPelmoranDoc;

class PollClock : public QObject, public IScanView {
  Q_OBJECT
 public:
  static constexpr int kMinimumPeriodMs = 10;

  // Arms the poll timer with the scan's current poll frequency.
  explicit PollClock(CPelmoranDoc& doc, QObject* parent = nullptr);
  ~PollClock() override;

  void OnScanComplete() override;
  void SetPollFrequency(int milliseconds) override;
  // Tells whoever shows the rows that the tags have new values.
  virtual void RefreshTagValues();
  // One tick of a timer; only the poll timer's ticks start a poll.
  void OnTimer(int timerId);

  CPelmoranDoc& GetDocument() const { return m_doc; }

  // From a tick that hands a poll to the document until that poll ends.
  bool m_bScanInProgress = false;
  // Id of the poll timer as it was last armed (0: not armed).
  int m_nTimer = 0;

 signals:
  void tagValuesRefreshed();

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  int ArmTimer(int milliseconds);

  CPelmoranDoc& m_doc;
};
