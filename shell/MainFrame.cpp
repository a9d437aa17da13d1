#include "shell/MainFrame.h"

#include <QTimerEvent>
#include <cstdlib>

#include "pointdb/ConfigFile.h"
#include "pointdb/ScanHost.h"

CMainFrame::CMainFrame() { TheApp().m_pMainFrame = this; }

CMainFrame::~CMainFrame() {
  RemoveAllEndpoints();
  // Callbacks still queued for the main thread must find no frame.
  if (TheApp().m_pMainFrame == this) TheApp().m_pMainFrame = nullptr;
}

bool CMainFrame::Create() {
  m_nRestoreTimerId = startTimer(RestoreDelayMs());
  m_nReconnectTimerId = startTimer(ReconnectPeriodMs());
  return m_nRestoreTimerId != 0 && m_nReconnectTimerId != 0;
}

void CMainFrame::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_nRestoreTimerId) OnTimer(kRestoreTimer);
  if (event->timerId() == m_nReconnectTimerId) OnTimer(kReconnectTimer);
}

void CMainFrame::OnTimer(int nIDEvent) {
  if (nIDEvent == kRestoreTimer && m_nRestoreTimerId != 0) {
    killTimer(m_nRestoreTimerId);
    m_nRestoreTimerId = 0;
    RestoreConfig(std::string(m_strConfigPath));
    emit configRestored();
  } else if (nIDEvent == kReconnectTimer) {
    ReconnectTcpEndpoints();
  }
}

void CMainFrame::RestoreConfig(const std::string& path) {
  CConfigFile(*this, TheApp()).RestoreConfig(path);
}

bool CMainFrame::OnSaveTestConfig(const std::string& path) {
  return CConfigFile(*this, TheApp()).SaveTestConfig(path);
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
