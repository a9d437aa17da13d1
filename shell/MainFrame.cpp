#include "shell/MainFrame.h"

#include <QTimerEvent>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "link/EndpointRegistry.h"
#include "platform/Log.h"
#include "platform/MessageBox.h"
#include "runtime/ConfigFile.h"
#include "runtime/DiagnosticsNodes.h"
#include "runtime/MqttConfig.h"
#include "runtime/Runtime.h"
#include "runtime/SettingsFile.h"
#include "shell/FrameTrace.h"
#include "shell/MqttService.h"
#include "shell/RollingTraceFile.h"

CMainFrame::CMainFrame(Runtime& runtime) : m_runtime(runtime) {}

CMainFrame::~CMainFrame() {
  StopMqtt();
  // The trace file's writer must not outlive the frame that named it.
  if (m_bTraceFileStarted) FrameTrace::Stop();
}

EndpointRegistry& CMainFrame::Endpoints() const { return m_runtime.m_endpoints; }

bool CMainFrame::Create() {
  m_nRestoreTimerId = startTimer(RestoreDelayMs());
  m_nReconnectTimerId = startTimer(ReconnectPeriodMs());
  m_nBackoffTimerId = startTimer(kBackoffTickMs);
  m_diagnostics = std::make_unique<DiagnosticsNodes>(m_runtime);
  m_nDiagnosticsTimerId = startTimer(kDiagnosticsPeriodMs);
  return m_nRestoreTimerId != 0 && m_nReconnectTimerId != 0;
}

void CMainFrame::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_nRestoreTimerId) OnTimer(kRestoreTimer);
  if (event->timerId() == m_nReconnectTimerId) OnTimer(kReconnectTimer);
  if (event->timerId() == m_nBackoffTimerId) Endpoints().ReconnectDueEndpoints();
  if (event->timerId() == m_nDiagnosticsTimerId) RefreshDiagnostics();
}

void CMainFrame::RefreshDiagnostics() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  m_diagnostics->Refresh(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void CMainFrame::OnTimer(int nIDEvent) {
  if (nIDEvent == kRestoreTimer && m_nRestoreTimerId != 0) {
    killTimer(m_nRestoreTimerId);
    m_nRestoreTimerId = 0;
    RestoreConfig(std::string(m_strConfigPath));
    // Only now: changes kept from an earlier run are sent right after the
    // session's births, and they belong to devices that the restore makes.
    RestartMqtt();
    emit configRestored();
  } else if (nIDEvent == kReconnectTimer) {
    Endpoints().ReconnectTcpEndpoints();
  }
}

void CMainFrame::RestoreConfig(const std::string& path) {
  ConfigFile file(m_runtime);
  file.RestoreConfig(path);
  Tell(file.Messages());
}

void CMainFrame::Tell(const std::vector<std::string>& messages) const {
  for (const std::string& text : messages) {
    if (m_bHeadless)
      platform::log(platform::LogLevel::Error, platform::LogCategory::Config, {}, text);
    else
      AfxMessageBox(text);
  }
}

std::string CMainFrame::SettingsPath() const {
  return ConfigDirectoryFile(SettingsFile::kFileName);
}

std::string CMainFrame::TracePath() const {
  return ConfigDirectoryFile(RollingTraceFile::kFileName);
}

void CMainFrame::StartTraceFile() {
  auto file = std::make_shared<RollingTraceFile>(TracePath());
  FrameTrace::Start(Endpoints(), [file](const std::string& line) { file->Write(line); });
  m_bTraceFileStarted = true;
}

std::string CMainFrame::ConfigDirectoryFile(const char* name) const {
  return m_strConfigPath.substr(0, m_strConfigPath.rfind('/') + 1) + name;
}

void CMainFrame::LoadSettings() {
  Endpoints().SetDemotionPolicy(SettingsFile::Load(SettingsPath()).GetDemotionPolicy());
}

bool CMainFrame::SaveDemotionPolicy(const DemotionPolicy& policy) {
  Endpoints().SetDemotionPolicy(policy);
  SettingsFile file = SettingsFile::Load(SettingsPath());
  file.SetDemotionPolicy(policy);
  return file.Save(SettingsPath());
}

mqtt::MqttSettings CMainFrame::MqttSettings(mqttconfig::ReadNotes* notes) const {
  return mqttconfig::Read(SettingsFile::Load(SettingsPath()), ConfigDirectoryFile(""),
                          mqttconfig::HostName(), notes);
}

void CMainFrame::RestartMqtt() {
  StopMqtt();
  mqttconfig::ReadNotes notes;
  const mqtt::MqttSettings settings = MqttSettings(&notes);
  m_mqtt = MqttService::Start(m_runtime, settings, notes);
}

void CMainFrame::StopMqtt() { m_mqtt.reset(); }

std::optional<mqtt::PublisherCounters> CMainFrame::MqttCounters() const {
  if (!m_mqtt) return std::nullopt;
  return m_mqtt->Counters();
}

bool CMainFrame::OnSaveTestConfig(const std::string& path) {
  ConfigFile file(m_runtime);
  const bool saved = file.SaveTestConfig(path);
  Tell(file.Messages());
  return saved;
}

int CMainFrame::RestoreDelayMs() {
  return PeriodFromEnvironment("PELMORAN_RESTORE_DELAY_MS", kRestoreDelayMs);
}

int CMainFrame::ReconnectPeriodMs() {
  return PeriodFromEnvironment("PELMORAN_RECONNECT_PERIOD_MS", kReconnectPeriodMs);
}

int CMainFrame::PeriodFromEnvironment(const char* name, int defaultMs) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return defaultMs;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  // Anything but a whole positive number of milliseconds keeps the default.
  if (*end != '\0' || value <= 0 || value > 86400000) return defaultMs;
  return static_cast<int>(value);
}
