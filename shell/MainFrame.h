// The main frame without its window: the path of the configuration file and
// the two frame timers (the configuration restored once after start-up,
// Modbus/TCP endpoints reconnected every minute), working on the runtime's
// endpoint registry. The window program's main window is built around it;
// the headless program has the frame alone.
#pragma once

#include <QObject>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mqtt/MqttPublisher.h"
#include "runtime/MqttConfig.h"

class EndpointRegistry;
class DiagnosticsNodes;
class MqttService;
struct DemotionPolicy;
class Runtime;

class CMainFrame : public QObject {
  Q_OBJECT
 public:
  static constexpr int kRestoreTimer = 1;
  static constexpr int kReconnectTimer = 3;
  static constexpr int kRestoreDelayMs = 2000;
  static constexpr int kReconnectPeriodMs = 60000;
  // How often lost Modbus/TCP connections are looked at for their next
  // attempt: "at once" is within this.
  static constexpr int kBackoffTickMs = 250;
  // Diagnostics variables change at most this often for their clients.
  static constexpr int kDiagnosticsPeriodMs = 1000;

  explicit CMainFrame(Runtime& runtime);
  ~CMainFrame() override;

  EndpointRegistry& Endpoints() const;
  Runtime& GetRuntime() const { return m_runtime; }

  // The frame's creation: arms timer 1 (once) and timer 3.
  bool Create();
  // Timer 1 restores the configuration once; timer 3 reconnects.
  void OnTimer(int nIDEvent);

  void RestoreConfig(const std::string& path);
  // The settings file beside the configuration file (its directory taken
  // from m_strConfigPath): how devices are demoted.
  std::string SettingsPath() const;
  void LoadSettings();
  // Applied to every endpoint at once, then written to the settings file,
  // whose other lines stay; false when it could not be written.
  bool SaveDemotionPolicy(const DemotionPolicy& policy);
  // The MQTT settings of the settings file, and the publisher run with them:
  // started anew (the one running stopped first), or only stopped when they
  // are not enabled.
  mqtt::MqttSettings MqttSettings(mqttconfig::ReadNotes* notes = nullptr) const;
  void RestartMqtt();
  // Ends the publisher's session; before the runtime's tags go at the end.
  void StopMqtt();
  // The running publisher's counters; none while it does not run.
  std::optional<mqtt::PublisherCounters> MqttCounters() const;
  // The rolling frame trace file beside the settings file, and the trace
  // into it (-TraceFile, the window's Frame Trace) until FrameTrace::Stop.
  std::string TracePath() const;
  void StartTraceFile();
  // False when the file could not be written (the operator has been told).
  bool OnSaveTestConfig(const std::string& path);

  // What the operator is told of the configuration files: in message boxes,
  // or, headless, in the log.
  bool m_bHeadless = false;

  // Periods of the timers; tests shorten them through the environment
  // (PELMORAN_RESTORE_DELAY_MS, PELMORAN_RECONNECT_PERIOD_MS).
  static int RestoreDelayMs();
  static int ReconnectPeriodMs();

  std::string m_strConfigPath;

 signals:
  // The configuration restore of timer 1 has run.
  void configRestored();

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  std::string ConfigDirectoryFile(const char* name) const;
  static int PeriodFromEnvironment(const char* name, int defaultMs);
  void RefreshDiagnostics();
  void Tell(const std::vector<std::string>& messages) const;

  Runtime& m_runtime;
  int m_nRestoreTimerId = 0;
  int m_nReconnectTimerId = 0;
  int m_nBackoffTimerId = 0;
  int m_nDiagnosticsTimerId = 0;
  std::unique_ptr<DiagnosticsNodes> m_diagnostics;
  bool m_bTraceFileStarted = false;
  std::shared_ptr<MqttService> m_mqtt;
};
