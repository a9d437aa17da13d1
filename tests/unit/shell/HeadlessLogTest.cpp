// The lines of the program without windows: start-up, endpoint changes and
// scan status changes, each once; the libraries' log lines.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "FakeModbus.h"
#include "FakeTagServer.h"
#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/HeadlessLog.h"
#include "shell/HeadlessViews.h"
#include "shell/LibraryLog.h"
#include "ui/PollClock.h"

namespace {

class HeadlessLogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "headless-log-test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    // Responses are routed at once here, as no event loop runs.
    frame_.ListenForAnswers();
    out_ = std::tmpfile();
    ASSERT_NE(out_, nullptr);
    log_ = std::make_unique<HeadlessLog>(frame_, out_);
    views_.SetLog(log_.get());
    app_.m_docTemplate.m_pViewFactory = &views_;
  }
  void TearDown() override {
    frame_.StopListening();
    app_.CloseAllDocuments();
    std::fclose(out_);
  }

  // The lines written so far, without their time stamps (which are checked).
  std::vector<std::string> Lines() {
    std::fflush(out_);
    std::rewind(out_);
    std::vector<std::string> lines;
    char buffer[512];
    static const QRegularExpression stamp(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S* pelmoran: ");
    while (std::fgets(buffer, sizeof buffer, out_) != nullptr) {
      QString line = QString::fromUtf8(buffer).chopped(1);
      QRegularExpressionMatch match = stamp.match(line);
      EXPECT_TRUE(match.hasMatch()) << buffer;
      lines.push_back(line.mid(match.capturedLength()).toStdString());
    }
    std::fseek(out_, 0, SEEK_END);
    return lines;
  }

  CModbusConnection* Tcp(const std::string& name) {
    EndpointChoice choice = frame_.ProposeEndpoint();
    choice.strName = name;
    return frame_.AddEndpoint(choice);
  }
  CPelmoranDoc* Scan(const std::string& endpoint) {
    CModbusMsg definition;
    definition.m_nPollFrequency = 60000;
    app_.CreateScan(definition, endpoint);
    return app_.m_docTemplate.GetDocument(app_.GetDocumentCount() - 1);
  }

  FakeModbus modbus_;
  FakeTagServer tagServer_;
  HeadlessViewFactory views_;
  Runtime app_;
  EndpointRegistry& frame_ = app_.m_endpoints;
  std::FILE* out_ = nullptr;
  std::unique_ptr<HeadlessLog> log_;
};

TEST_F(HeadlessLogTest, StartUpNamesTheEndpointUrlAndTheConfiguration) {
  std::string present = ::testing::TempDir() + "pelmoran-log-test.tst";
  std::FILE* file = std::fopen(present.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  log_->Start("opc.tcp://127.0.0.1:4840", present);
  log_->Start("", "/nonexistent/pelmoran.tst");
  std::remove(present.c_str());
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "OPC UA endpoint opc.tcp://127.0.0.1:4840",
                         "configuration file " + present, "OPC UA endpoint (not listening)",
                         "no configuration file at /nonexistent/pelmoran.tst"}));
}

TEST_F(HeadlessLogTest, EachEndpointChangeIsToldOnce) {
  CModbusConnection* endpoint = Tcp("MODBUS1");
  log_->CheckEndpoints();
  log_->CheckEndpoints();
  frame_.OnConnectionEvent(MBS_EVENT_CONNECTED, endpoint->m_hTcpConnection);
  log_->CheckEndpoints();
  log_->CheckEndpoints();
  frame_.OnConnectionEvent(MBS_EVENT_TERMINATED, endpoint->m_hConnection);
  log_->CheckEndpoints();
  frame_.RemoveEndpoint(0);
  log_->CheckEndpoints();
  log_->CheckEndpoints();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "endpoint MODBUS1 not connected", "endpoint MODBUS1 connected",
                         "endpoint MODBUS1 not connected", "endpoint MODBUS1 removed"}));
}

TEST_F(HeadlessLogTest, AScanStatusIsToldWhenItChangesNotAtEveryPoll) {
  CPelmoranDoc* doc = Scan("MODBUS1");
  PollClock& clock = *views_.FindClock(*doc);
  for (int i = 0; i < 3; ++i) clock.OnTimer(clock.m_nTimer);  // no such endpoint yet
  CModbusConnection* endpoint = Tcp("MODBUS1");
  frame_.OnConnectionEvent(MBS_EVENT_CONNECTED, endpoint->m_hTcpConnection);
  for (int i = 0; i < 3; ++i) {
    clock.OnTimer(clock.m_nTimer);
    FakeModbus::Respond(endpoint->m_hConnection);
  }
  modbus_.responseStatus = MBS_POLL_TIMEOUT;
  clock.OnTimer(clock.m_nTimer);
  FakeModbus::Respond(endpoint->m_hConnection);
  // The time-out closed the endpoint after the scan was told; the periodic
  // check reports it.
  log_->CheckEndpoints();
  const std::string scan = "scan " + doc->m_strTitle + " on MODBUS1: ";
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         scan + "CHANNEL NOT CONNECTED", "endpoint MODBUS1 connected",
                         scan + "GOOD", scan + "POLL TIMEOUT", "endpoint MODBUS1 not connected"}));
}

TEST_F(HeadlessLogTest, LibraryLinesArePostedThenWrittenWithTheirLevel) {
  LibraryLog::install(
      [this](int level, const std::string& text) { log_->LibraryLine(level, text); });
  ASSERT_NE(modbus_.logCallback, nullptr);
  ASSERT_NE(tagServer_.logCallback, nullptr);
  std::thread library([this] {
    modbus_.logCallback(MBS_LOG_ERROR, "COM3 (/dev/ttyS2): cannot open: Permission denied");
    tagServer_.logCallback(OPC_LOG_WARNING, "OPC UA client 10.0.0.9:50312: connection lost");
    std::string text = "COM3 (/dev/ttyS2): the line reads again";
    modbus_.logCallback(MBS_LOG_INFO, text.c_str());
    text.assign(text.size(), 'x');  // the hook's text lives only as long as the call
  });
  library.join();
  EXPECT_TRUE(Lines().empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"error: COM3 (/dev/ttyS2): cannot open: Permission denied",
                                      "warning: OPC UA client 10.0.0.9:50312: connection lost",
                                      "COM3 (/dev/ttyS2): the line reads again"}));
  // Taken away, the hooks are off, and a line still queued is dropped.
  tagServer_.logCallback(OPC_LOG_WARNING, "queued when the program ended");
  LibraryLog::install(nullptr);
  EXPECT_EQ(modbus_.logCallback, nullptr);
  EXPECT_EQ(tagServer_.logCallback, nullptr);
  QCoreApplication::processEvents();
  EXPECT_EQ(Lines().size(), 3u);
}

TEST(HeadlessLogStatus, EveryStatusHasAText) {
  EXPECT_EQ(HeadlessLog::StatusText(0, ""), "GOOD");
  EXPECT_EQ(HeadlessLog::StatusText(263, "POLL TIMEOUT"), "POLL TIMEOUT");
  EXPECT_EQ(HeadlessLog::StatusText(271, ""), "status 271");
}

}  // namespace
