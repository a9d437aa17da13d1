// What the service manager hears from the program (sd_notify): READY=1 once
// start-up is done, WATCHDOG=1 from the main thread's event loop at half the
// unit's WatchdogSec, so that a main thread that hangs gets the program
// restarted, and STOPPING=1 at the end. Without NOTIFY_SOCKET (not started
// by systemd) it does nothing.
#pragma once

#include <QObject>
#include <QTimer>

class ServiceNotify : public QObject {
 public:
  // Main thread, at the end of start-up.
  void Ready();
  void Stopping();

 private:
  static void Send(const char* state);

  QTimer m_watchdog;
};
