// The application object: start-up from the command line, the three library
// callbacks, and the orderly end of the program. It holds the runtime and
// wires the frame, the views and the libraries' callbacks to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Variant.h"
#include "tagserver/tagserver.h"

class HeadlessLog;
class HeadlessViewFactory;
class CMainFrame;
class MainWindow;
class Runtime;
class ServiceNotify;
namespace web {
class WebServer;
}

class CPelmoranApp {
 public:
  // directory: where the executable (and the default configuration) lies,
  // with its trailing "/"; empty for the running executable's directory.
  explicit CPelmoranApp(std::string directory = std::string());
  ~CPelmoranApp();
  CPelmoranApp(const CPelmoranApp&) = delete;
  CPelmoranApp& operator=(const CPelmoranApp&) = delete;

  // Start-up; false when the program is to end at once (a registration
  // switch, or the frame could not be created).
  bool InitInstance(const std::string& commandLine);
  // The end: documents closed (their tags removed), then the frame with its
  // endpoints, then the tag server stopped.
  void ExitInstance();

  // Library callbacks; they run on the libraries' threads and only post the
  // call to the runtime of the started application, if it still runs then.
  static void OnClientWrite(int32_t hTag, VARIANT* value, int32_t* result);
  // The write that its client learns the end of: the runtime completes the
  // token once the device answered or the write was refused.
  static void OnClientWriteAsync(int32_t hTag, VARIANT* value, OPCWriteToken token);
  static void OnConnectionCallback(int event, int handle);

  Runtime& GetRuntime() const { return *m_runtime; }
  CMainFrame* MainFrame() const { return m_frame.get(); }
  MainWindow* Window() const { return m_window.get(); }
  HeadlessViewFactory* HeadlessViews() const { return m_headlessViews.get(); }

  bool m_bHeadless = false;
  bool m_bMinimize = false;

 private:
  bool LoadFrame();
  void StartLog(const std::string& configPath);
  void ShowMainWindow();
  void WireCallbacks();
  // The HTTP server, when pelmoran.ini's [Http] enables it; the log says
  // where it serves, or why it cannot.
  void StartWeb(const std::string& folder);

  std::string m_strDirectory;
  // The libraries were started: the end has work to do.
  bool m_bStarted = false;
  // Shared with nothing: callbacks posted to the main thread hold it weakly,
  // so that one still queued at the end finds it gone.
  std::shared_ptr<Runtime> m_runtime;
  std::unique_ptr<HeadlessViewFactory> m_headlessViews;
  std::unique_ptr<HeadlessLog> m_log;
  std::unique_ptr<CMainFrame> m_frame;
  std::unique_ptr<MainWindow> m_window;
  std::unique_ptr<web::WebServer> m_web;
  std::unique_ptr<ServiceNotify> m_notify;
};
