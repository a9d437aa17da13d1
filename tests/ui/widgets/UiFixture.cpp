#include "UiFixture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <vector>

#include "link/EndpointRegistry.h"
#include "platform/MessageBox.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/Runtime.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"

namespace {

int g_pendingAnswers = 0;
std::vector<QTimer*> g_answerTimers;
std::atomic<int32_t> g_nextHandle{1};

int32_t FakeCreate(const char*, VARIANT, uint16_t, int) { return g_nextHandle++; }
int FakeUpdate(int32_t, VARIANT, uint16_t) { return 0; }
int FakeRemove(int32_t) { return 0; }

}  // namespace

MessageLog::MessageLog() { Install(); }

MessageLog::~MessageLog() { SetMessageBoxHandler(nullptr); }

void MessageLog::Install() {
  SetMessageBoxHandler([this](const std::string& text, unsigned) {
    texts.push_back(text);
    return 1;
  });
}

void AnswerNextModal(std::function<void(QWidget*)> answer) {
  ++g_pendingAnswers;
  auto* timer = new QTimer;
  g_answerTimers.push_back(timer);
  timer->setInterval(10);
  // An answer given from inside a dialog is meant for the next one: the file
  // dialog, for one, runs events while it closes.
  QPointer<QWidget> current = QApplication::activeModalWidget();
  QObject::connect(timer, &QTimer::timeout, [timer, answer, current] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || (current && modal == current.data())) return;
    timer->stop();
    timer->deleteLater();
    std::erase(g_answerTimers, timer);
    --g_pendingAnswers;
    answer(modal);
  });
  timer->start();
}

bool AllModalsAnswered(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (g_pendingAnswers > 0 && clock.elapsed() < timeoutMs) QTest::qWait(10);
  return g_pendingAnswers == 0;
}

void CancelPendingAnswers() {
  for (QTimer* timer : g_answerTimers) {
    timer->stop();
    timer->deleteLater();
  }
  g_answerTimers.clear();
  g_pendingAnswers = 0;
}

void InstallFakeTagServer() {
  TagServer().CreateOPCTag = FakeCreate;
  TagServer().UpdateOPCTag = FakeUpdate;
  TagServer().RemoveOPCTag = FakeRemove;
}

WindowProgram::WindowProgram() : app(std::make_unique<Runtime>()) {
  InstallFakeTagServer();
  app->m_endpoints.ListenForAnswers();
  frame = std::make_unique<CMainFrame>(*app);
  window = std::make_unique<MainWindow>(*frame);
  app->m_docTemplate.m_pViewFactory = window->ViewFactory();
  window->show();
}

WindowProgram::~WindowProgram() {
  app->m_endpoints.StopListening();
  app->CloseAllDocuments();
  window.reset();
  frame.reset();
  app->m_endpoints.RemoveAllEndpoints();
  app->m_docTemplate.m_pViewFactory = nullptr;
}

void AddEndpoint(EndpointRegistry& frame, const std::string& name, int comPort) {
  auto endpoint = std::make_unique<CModbusConnection>();
  endpoint->m_strName = name;
  if (comPort) {
    endpoint->m_bTcp = 0;
    endpoint->m_nPort = comPort;
  }
  frame.m_endpoints.push_back(std::move(endpoint));
}

QString ScratchDirectory(const QString& name) {
  QDir dir(QDir::temp().filePath("pelmoran-ui-" + name));
  dir.removeRecursively();
  QDir().mkpath(dir.path());
  return dir.path();
}
