#include "shell/PelmoranApp.h"

#include <QCoreApplication>
#include <utility>

#include "platform/SharedVariant.h"
#include "platform/Log.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/SettingsFile.h"
#include "runtime/Runtime.h"
#include "shell/CommandLine.h"
#include "shell/FrameTrace.h"
#include "shell/HeadlessLog.h"
#include "shell/HeadlessViews.h"
#include "shell/JournalStream.h"
#include "shell/LibraryLog.h"
#include "shell/MainFrame.h"
#include "shell/MainThread.h"
#include "shell/MainWindow.h"
#include "shell/ServiceNotify.h"
#include "shell/Startup.h"
#include "web/WebServer.h"

namespace {

// The libraries call back through plain functions without a context; this is
// the runtime they reach while the application is started. It is read and
// written on the main thread only.
std::weak_ptr<Runtime>& CallbackTarget() {
  static std::weak_ptr<Runtime> target;
  return target;
}

// Runs fn with the runtime on the main thread, if there is one by then.
void PostToRuntime(std::function<void(Runtime&)> fn) {
  PostToMainThread([fn = std::move(fn)] {
    if (std::shared_ptr<Runtime> runtime = CallbackTarget().lock()) fn(*runtime);
  });
}

}  // namespace

CPelmoranApp::CPelmoranApp(std::string directory)
    : m_strDirectory(directory.empty() ? Startup::ExecutableDirectory() : std::move(directory)),
      m_runtime(std::make_shared<Runtime>()) {}

CPelmoranApp::~CPelmoranApp() { ExitInstance(); }

bool CPelmoranApp::InitInstance(const std::string& commandLine) {
  Startup startup(m_strDirectory);
  CommandLine switches(commandLine);
  if (startup.RunEndingSwitch(switches)) return false;
  m_bMinimize = switches.m_bMinimize;
  m_bHeadless = switches.m_bHeadless;

  WireCallbacks();
  startup.StartLibraries(&CPelmoranApp::OnClientWrite, &CPelmoranApp::OnConnectionCallback);
  // Where the library offers it, clients learn how their writes ended.
  if (TagServer().EnableAsyncWriteCallback != nullptr)
    TagServer().EnableAsyncWriteCallback(&CPelmoranApp::OnClientWriteAsync, 1);
  m_bStarted = true;

  if (QCoreApplication::instance() != nullptr) {
    // Nothing of the program's is kept under Qt's per-user paths (settings
    // live in pelmoran.ini, see ConfigLocation), so the names are only its own.
    QCoreApplication::setOrganizationName("pelmoran");
    QCoreApplication::setApplicationName("pelmoran");
  }
  m_frame = std::make_unique<CMainFrame>(*m_runtime);
  m_frame->m_bHeadless = m_bHeadless;
  if (!LoadFrame()) return false;
  ShowMainWindow();
  m_frame->m_strConfigPath = startup.ConfigPath();
  m_frame->LoadSettings();
  if (m_window) m_window->RestoreLayout();
  if (switches.m_bTrace) FrameTrace::Start(m_runtime->m_endpoints);
  if (switches.m_bTraceFile) m_frame->StartTraceFile();
  if (m_bHeadless) StartLog(m_frame->m_strConfigPath);
  StartWeb(startup.ConfigFolder());
  m_notify = std::make_unique<ServiceNotify>();
  m_notify->Ready();
  return true;
}

void CPelmoranApp::WireCallbacks() {
  CallbackTarget() = m_runtime;
  // Headless, the log is standard error, the journal's stream under systemd;
  // the window program writes there only for the journal.
  const bool journal = JournalStream::Is(stderr);
  LibraryLog::install([this, journal](int level, const std::string& text) {
    if (m_log) m_log->LibraryLine(level, text);
    if (m_web) m_web->LogLine(LibraryLog::levelPrefix(level) + text);
    if (m_window) m_window->ShowLibraryLine(level, text);
    if (m_window && journal)
      HeadlessLog::Write(stderr, true, level, LibraryLog::levelPrefix(level) + text);
  });
  m_runtime->m_endpoints.ListenForAnswers(PostToMainThread);
}

bool CPelmoranApp::LoadFrame() {
  // Without a window (or until the window offers its own views) every scan
  // still gets a poll clock.
  m_headlessViews = std::make_unique<HeadlessViewFactory>();
  m_headlessViews->DriveDevices(m_runtime->m_devicePoller);
  DocTemplate& docTemplate = m_runtime->m_docTemplate;
  docTemplate.m_pViewFactory = m_headlessViews.get();
  if (!m_bHeadless) {
    m_window = std::make_unique<MainWindow>(*m_frame);
    if (IViewFactory* views = m_window->ViewFactory()) docTemplate.m_pViewFactory = views;
  }
  return m_frame->Create();
}

void CPelmoranApp::StartLog(const std::string& configPath) {
  m_log = std::make_unique<HeadlessLog>(m_runtime->m_endpoints);
  m_headlessViews->SetLog(m_log.get());
  const char* url = TagServer().GetOPCServerURL ? TagServer().GetOPCServerURL() : nullptr;
  m_log->Start(url != nullptr ? url : "", configPath);
}

void CPelmoranApp::StartWeb(const std::string& folder) {
  const HttpSettings settings = SettingsFile::Load(m_frame->SettingsPath()).GetHttpSettings();
  if (!settings.enabled) return;
  CMainFrame* frame = m_frame.get();
  auto figures = [frame] {
    web::ProgramFigures figures;
    figures.mqttEnabled = frame->MqttSettings().enabled;
    figures.mqtt = frame->MqttCounters();
    figures.configPath = frame->m_strConfigPath;
    figures.settingsPath = frame->SettingsPath();
    return figures;
  };
  m_web = std::make_unique<web::WebServer>(*m_runtime, figures, PostToMainThread);
  std::string error;
  if (m_web->Start(settings, folder, &error)) {
    platform::log(platform::LogLevel::Info, platform::LogCategory::Program, "HTTP",
                  "serving " + m_web->Url());
    return;
  }
  platform::log(platform::LogLevel::Error, platform::LogCategory::Program, "HTTP", error);
  m_web.reset();
}

void CPelmoranApp::ShowMainWindow() {
  if (!m_window) return;
  if (m_bMinimize)
    m_window->showMinimized();
  else
    m_window->show();
}

void CPelmoranApp::ExitInstance() {
  if (!m_bStarted) return;
  m_bStarted = false;
  if (m_notify) m_notify->Stopping();
  m_notify.reset();
  // Callbacks still queued for the main thread find nothing from now on.
  CallbackTarget().reset();
  // Before the state its requests read goes.
  m_web.reset();
  FrameTrace::Stop();
  m_runtime->m_endpoints.StopListening();
  // The broker hears of the gateway's end while its tags are all there.
  if (m_frame) m_frame->StopMqtt();
  LibraryLog::install(nullptr);
  m_runtime->CloseAllDocuments();
  m_runtime->m_devicePoller.Clear();
  if (m_headlessViews) m_headlessViews->SetLog(nullptr);
  m_log.reset();
  m_window.reset();
  m_frame.reset();
  m_runtime->m_endpoints.RemoveAllEndpoints();
  m_runtime->m_docTemplate.m_pViewFactory = nullptr;
  m_headlessViews.reset();
  if (TagServer().ShutdownOPCServer != nullptr) TagServer().ShutdownOPCServer();
}

void CPelmoranApp::OnClientWrite(int32_t hTag, VARIANT* value, int32_t* result) {
  // The value belongs to the library's thread: the main thread gets a copy.
  std::shared_ptr<VARIANT> copy = SharedVariantCopy(value);
  if (result != nullptr) *result = 0;
  PostToRuntime([hTag, copy](Runtime& runtime) { runtime.OfferClientWrite(hTag, copy.get()); });
}

void CPelmoranApp::OnClientWriteAsync(int32_t hTag, VARIANT* value, OPCWriteToken token) {
  // The value belongs to the library's thread: the main thread gets a copy.
  std::shared_ptr<VARIANT> copy = SharedVariantCopy(value);
  PostToRuntime(
      [hTag, copy, token](Runtime& runtime) { runtime.OfferClientWrite(hTag, copy.get(), token); });
}

void CPelmoranApp::OnConnectionCallback(int event, int handle) {
  PostToRuntime(
      [event, handle](Runtime& runtime) { runtime.m_endpoints.OnConnectionEvent(event, handle); });
}
