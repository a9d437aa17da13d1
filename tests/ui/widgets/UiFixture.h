// What the widget tests share: a tag server that only hands out handles, the
// message boxes recorded instead of shown, modal dialogs answered by the test,
// and the application pieces of the window program without the libraries.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class EndpointRegistry;
class CMainFrame;
class MainWindow;
class Runtime;
class QWidget;

// Every AfxMessageBox text since the last Clear.
struct MessageLog {
  MessageLog();
  ~MessageLog();
  void Install();
  std::vector<std::string> texts;
};

// Calls answer with the next modal dialog once it is open (it must close it).
void AnswerNextModal(std::function<void(QWidget*)> answer);
// Waits until every answer given has been used.
bool AllModalsAnswered(int timeoutMs = 5000);
// Answers not used yet are dropped.
void CancelPendingAnswers();

// Tag server entry points that hand out handles and remember nothing else.
void InstallFakeTagServer();

// The runtime, the main frame and the main window, wired as the window
// program wires them (Modbus callbacks routed at once, as no library thread
// runs).
class WindowProgram {
 public:
  WindowProgram();
  ~WindowProgram();

  std::unique_ptr<Runtime> app;
  std::unique_ptr<CMainFrame> frame;
  std::unique_ptr<MainWindow> window;
};

// Adds a Modbus/TCP endpoint that never connects, or a serial one on a COM port.
void AddEndpoint(EndpointRegistry& frame, const std::string& name, int comPort = 0);
// A directory for a test's files, emptied first.
QString ScratchDirectory(const QString& name);
