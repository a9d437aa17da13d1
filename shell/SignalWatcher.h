// Turns SIGTERM and SIGINT into an orderly end of the event loop: the signal
// handler only writes a byte to a pipe, and the main thread quits the loop.
#pragma once

#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject {
  Q_OBJECT
 public:
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

  // The signal that ended the loop (0: none).
  int LastSignal() const { return m_nSignal; }

 private:
  void OnSignal();
  static void Handler(int signal);

  QSocketNotifier* m_pNotifier = nullptr;
  int m_nSignal = 0;
};
