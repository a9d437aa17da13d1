// The one timer of the devices polled by their register maps: it runs the
// runtime's DevicePoller at the time the poller asks for next, and at once
// when the poller says something changed (an answer arrived, a map changed).
// Scans keep their own poll clocks.
#pragma once

#include <QObject>
#include <QTimer>

class DevicePoller;

class DeviceClock : public QObject {
 public:
  explicit DeviceClock(DevicePoller& poller, QObject* parent = nullptr);
  // The poller asks nobody from now on.
  ~DeviceClock() override;
  DeviceClock(const DeviceClock&) = delete;
  DeviceClock& operator=(const DeviceClock&) = delete;

 private:
  void Run();

  DevicePoller& m_poller;
  QTimer m_timer;
};
