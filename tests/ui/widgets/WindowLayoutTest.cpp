// The scans' windows as an operator arranges them: the Window menu, where new
// and restored windows appear, the keys that close, cycle and edit, and the
// layout kept in the settings file across a restart.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include "DemoConfig.h"
#include "UiFixture.h"
#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"
#include "ui/ChildFrame.h"
#include "ui/DataTypeDlg.h"
#include "ui/PelmoranView.h"

namespace {

using W = MainWindow;

std::vector<CChildFrame*> Children(MainWindow& window) {
  std::vector<CChildFrame*> children;
  for (QMdiSubWindow* sub : window.MdiArea().subWindowList(QMdiArea::CreationOrder))
    if (auto* child = qobject_cast<CChildFrame*>(sub); child && !child->IsRetired())
      children.push_back(child);
  return children;
}

QMenu* TopMenu(QMainWindow& window, const QString& title) {
  for (QAction* action : window.menuBar()->actions())
    if (action->text() == title) return action->menu();
  return nullptr;
}

// The title bar of a child window, in the area's viewport.
QRect TitleBar(CChildFrame& child) {
  const int height = child.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &child);
  return QRect(child.geometry().topLeft(), QSize(child.width(), height));
}

// Every child's title bar lies in the area, and every column of its list is shown.
void VerifyAllInView(MainWindow& window) {
  const QRect area = window.MdiArea().viewport()->rect();
  for (CChildFrame* child : Children(window)) {
    QVERIFY2(area.contains(TitleBar(*child)), qPrintable(child->windowTitle()));
    CPelmoranView& view = child->View();
    QVERIFY2(view.header()->length() <= view.viewport()->width(), qPrintable(child->windowTitle()));
  }
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void windowMenuArrangesAndListsTheScans();
  void newScansCascadeInsideTheArea();
  void keysCloseCycleAndEdit();
  void layoutIsKeptInTheSettingsFile();
  void demoConfigurationFitsA1600By1000Window();

 private:
  std::unique_ptr<WindowProgram> m_program;
  std::unique_ptr<MessageLog> m_log;
  MainWindow& Window() { return *m_program->window; }
  Runtime& App() { return *m_program->app; }
  void OpenScans(int count);
};

void WindowLayoutTest::init() {
  m_program = std::make_unique<WindowProgram>();
  m_log = std::make_unique<MessageLog>();
  Window().resize(1200, 800);
  QApplication::sendPostedEvents();
}

void WindowLayoutTest::cleanup() {
  CancelPendingAnswers();
  m_log.reset();
  m_program.reset();
}

void WindowLayoutTest::OpenScans(int count) {
  for (int i = 0; i < count; ++i) App().OnFileNew();
  QApplication::sendPostedEvents();
}

void WindowLayoutTest::windowMenuArrangesAndListsTheScans() {
  OpenScans(3);
  QMenu* menu = TopMenu(Window(), "&Window");
  QVERIFY(menu);
  emit menu->aboutToShow();
  QStringList entries;
  for (QAction* action : menu->actions()) entries << (action->isSeparator() ? "-" : action->text());
  QCOMPARE(entries,
           QStringList({"&Cascade", "&Tile", "-", "&1 Pelmor1", "&2 Pelmor2", "&3 Pelmor3"}));
  // The active scan is the one checked; choosing another activates it.
  QVERIFY(menu->actions()[5]->isChecked());
  menu->actions()[3]->trigger();
  QCOMPARE(Window().ActiveView(), &Children(Window())[0]->View());

  Window().Action(W::ID_WINDOW_TILE)->trigger();
  const std::vector<CChildFrame*> tiled = Children(Window());
  for (size_t i = 0; i < tiled.size(); ++i)
    for (size_t j = i + 1; j < tiled.size(); ++j)
      QVERIFY(!tiled[i]->geometry().intersects(tiled[j]->geometry()));
  Window().Action(W::ID_WINDOW_CASCADE)->trigger();
  VerifyAllInView(Window());
}

void WindowLayoutTest::newScansCascadeInsideTheArea() {
  // More scans than cascade steps fit: the later ones start over at the top.
  OpenScans(30);
  VerifyAllInView(Window());
  const std::vector<CChildFrame*> children = Children(Window());
  QVERIFY(children[1]->y() > children[0]->y());
  QVERIFY(children[1]->x() > children[0]->x());
  QVERIFY(std::any_of(children.begin() + 1, children.end(),
                      [&](CChildFrame* child) { return child->pos() == children[0]->pos(); }));
}

void WindowLayoutTest::keysCloseCycleAndEdit() {
  OpenScans(3);
  MainWindow& window = Window();
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  CPelmoranView* active = window.ActiveView();
  QVERIFY(active);
  QTest::keyClick(active, Qt::Key_Tab, Qt::ControlModifier);
  QVERIFY(window.ActiveView() != active);

  // Enter and F2 edit the current tag as a double-click does.
  CPelmoranView* view = window.ActiveView();
  view->setCurrentIndex(view->model()->index(2, 0));
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_F2}) {
    QString title;
    AnswerNextModal([&title](QWidget* modal) {
      auto* dlg = qobject_cast<CDataTypeDlg*>(modal);
      QVERIFY(dlg);
      title = dlg->windowTitle();
      dlg->reject();
    });
    QTest::keyClick(view, key);
    QVERIFY(AllModalsAnswered());
    QCOMPARE(title.toStdString(), view->GetDocument().GetTagName(2));
  }

  // The dialogs took the activation; the keys work once the window has it back.
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  // The keys close windows; the scans go on polling.
  QTest::keyClick(window.ActiveView(), Qt::Key_W, Qt::ControlModifier);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCOMPARE(window.MdiArea().subWindowList().size(), 2);
  QVERIFY(window.ActiveView());
  QTest::keyClick(window.ActiveView(), Qt::Key_F4, Qt::ControlModifier);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCOMPARE(window.MdiArea().subWindowList().size(), 1);
  QCOMPARE(App().GetDocumentCount(), 3);
}

void WindowLayoutTest::layoutIsKeptInTheSettingsFile() {
  const QString dir = ScratchDirectory("layout");
  m_program->frame->m_strConfigPath = (dir + "/pelmoran.tst").toStdString();
  OpenScans(2);
  CChildFrame* second = Children(Window())[1];
  second->setGeometry(40, 30, 400, 120);
  second->View().setColumnWidth(1, 123);
  // Room for the child beside the project tree, within the screen.
  Window().setGeometry(10, 40, 780, 500);
  QVERIFY(Window().close());
  QVERIFY(QFile::exists(dir + "/pelmoran.ini"));

  // A new run restores the frame, and the scan of the same title comes back
  // where it was; a child kept outside the now smaller area is moved in.
  cleanup();
  init();
  m_program->frame->m_strConfigPath = (dir + "/pelmoran.tst").toStdString();
  Window().RestoreLayout();
  QCOMPARE(Window().size(), QSize(780, 500));
  OpenScans(2);
  CChildFrame* again = Children(Window())[1];
  QCOMPARE(again->geometry(), QRect(40, 30, 400, 120));
  QCOMPARE(again->View().columnWidth(1), 123);
  Window().resize(400, 300);
  QApplication::sendPostedEvents();
  App().CloseAllDocuments();
  OpenScans(2);
  for (CChildFrame* child : Children(Window()))
    QVERIFY(Window().MdiArea().viewport()->rect().contains(TitleBar(*child)));
}

void WindowLayoutTest::demoConfigurationFitsA1600By1000Window() {
  const QString dir = ScratchDirectory("demo-layout");
  QVERIFY(DemoConfig::Write(dir.toStdString(), "SIM", "127.0.0.1", 1502));
  Window().resize(1600, 1000);
  QApplication::sendPostedEvents();
  QCOMPARE(Window().size(), QSize(1600, 1000));
  ConfigFile(App()).RestoreConfig((dir + "/pelmoran.tst").toStdString());
  QApplication::sendPostedEvents();
  QCOMPARE(static_cast<size_t>(App().GetDocumentCount()), DemoConfig::Scans().size());
  QCOMPARE(Children(Window()).size(), DemoConfig::Scans().size());
  VerifyAllInView(Window());
  // For a person to look at: how the demo comes up.
  const QString artifacts = qEnvironmentVariable("UI_ARTIFACTS", QDir::tempPath());
  QDir().mkpath(artifacts);
  QVERIFY(Window().grab().save(artifacts + "/demo-1600x1000.png"));
}

QTEST_MAIN(WindowLayoutTest)
#include "WindowLayoutTest.moc"
