// The window program's start: the main window shown normally or minimized,
// scans getting the window's views, and the end closing them first.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <memory>

#include "FakeModbus.h"
#include "FakeTagServer.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"
#include "shell/PelmoranApp.h"

namespace {

class WindowStartTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "window-start-test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QApplication(argc, argv);
  }
  void TearDown() override { app_.reset(); }

  CPelmoranApp& Start(const std::string& commandLine) {
    std::filesystem::create_directories("/tmp/pelmoran-window-test/");
    app_ = std::make_unique<CPelmoranApp>("/tmp/pelmoran-window-test/");
    started_ = app_->InitInstance(commandLine);
    return *app_;
  }

  FakeModbus modbus_;
  FakeTagServer tagServer_;
  std::unique_ptr<CPelmoranApp> app_;
  bool started_ = false;
};

TEST_F(WindowStartTest, AnEmptyLineShowsTheWindowNormally) {
  CPelmoranApp& app = Start("");
  ASSERT_TRUE(started_);
  ASSERT_NE(app.Window(), nullptr);
  EXPECT_TRUE(app.Window()->isVisible());
  EXPECT_FALSE(app.Window()->isMinimized());
  EXPECT_EQ(app.MainFrame()->m_strConfigPath, "/tmp/pelmoran-window-test/pelmoran.tst");
}

TEST_F(WindowStartTest, MinimizeShowsTheWindowMinimized) {
  CPelmoranApp& app = Start("/minimize");
  ASSERT_TRUE(started_);
  EXPECT_TRUE(app.Window()->windowState() & Qt::WindowMinimized);
}

TEST_F(WindowStartTest, ScansGetTheWindowsViewsAndCloseBeforeTheWindow) {
  CPelmoranApp& app = Start("");
  ASSERT_TRUE(started_);
  IViewFactory* views = app.Window()->ViewFactory();
  ASSERT_NE(views, nullptr);
  EXPECT_EQ(app.GetRuntime().m_docTemplate.m_pViewFactory, views);
  CModbusMsg definition;
  app.GetRuntime().CreateScan(definition, "NOWHERE");
  ASSERT_EQ(app.GetRuntime().GetDocumentCount(), 1);
  EXPECT_NE(app.GetRuntime().FindDocumentByKey(2)->m_pView, nullptr);
  app.ExitInstance();
  EXPECT_EQ(tagServer_.Count("RemoveOPCTag"), 16);
  EXPECT_EQ(app.Window(), nullptr);
}

}  // namespace
