// What a scan document needs of its view: the poll clock of the scan. The
// headless program gives every document a clock without a widget; the window
// program's list view is built on the same clock.
#pragma once

class IScanView {
 public:
  virtual ~IScanView() = default;
  // A poll of the scan has finished (or could not start): clear the
  // scan-in-progress flag and refresh the rows.
  virtual void OnScanComplete() = 0;
  // Stores the frequency in the scan record and re-arms the poll timer.
  virtual void SetPollFrequency(int milliseconds) = 0;
};
