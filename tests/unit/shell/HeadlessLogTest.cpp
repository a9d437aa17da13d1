// The lines of the program without windows: start-up, endpoint changes and
// scan status changes, each once; the libraries' log lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FakeModbus.h"
#include "FakeTagServer.h"
#include "link/EndpointRegistry.h"
#include "platform/Log.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "shell/HeadlessLog.h"
#include "shell/HeadlessViews.h"
#include "shell/JournalStream.h"
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

TEST_F(HeadlessLogTest, LoggerLinesArePostedThenWrittenWithTheirLevel) {
  using platform::LogCategory;
  using platform::LogLevel;
  LibraryLog::install(
      [this](int level, const std::string& text) { log_->LibraryLine(level, text); });
  std::thread library([] {
    platform::log(LogLevel::Error, LogCategory::Modbus, "COM3 (/dev/ttyS2)",
                  "cannot open: Permission denied");
    platform::log(LogLevel::Warning, LogCategory::OpcUa, "OPC UA client 10.0.0.9:50312",
                  "connection lost");
    std::string text = "the line reads again";
    platform::log(LogLevel::Info, LogCategory::Modbus, "COM3 (/dev/ttyS2)", text);
    text.assign(text.size(), 'x');  // the record's text lives only as long as the call
  });
  library.join();
  EXPECT_TRUE(Lines().empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"error: COM3 (/dev/ttyS2): cannot open: Permission denied",
                                      "warning: OPC UA client 10.0.0.9:50312: connection lost",
                                      "COM3 (/dev/ttyS2): the line reads again"}));
  // Taken away, the sink is off, and a line still queued is dropped.
  platform::log(LogLevel::Warning, LogCategory::OpcUa, {}, "queued when the program ended");
  LibraryLog::install(nullptr);
  platform::log(LogLevel::Warning, LogCategory::OpcUa, {}, "after the end");
  QCoreApplication::processEvents();
  EXPECT_EQ(Lines().size(), 3u);
  // The program takes the lines from the logger, not from the hooks as well.
  EXPECT_EQ(modbus_.logCallback, nullptr);
  EXPECT_EQ(tagServer_.logCallback, nullptr);
}

// Under systemd the journal's stream gets each line's priority first; a
// stream JOURNAL_STREAM does not name (standard error redirected) does not.
TEST_F(HeadlessLogTest, PriorityOnlyOnTheJournalsStream) {
  // What JOURNAL_STREAM holds, given the device and inode of the log's stream.
  using Naming = std::function<std::string(const struct stat&)>;
  auto id = [](const struct stat& s, ino_t inode) {
    return std::to_string(s.st_dev) + ":" + std::to_string(inode);
  };
  struct Case {
    const char* what;
    Naming variable;  // null: unset
    std::string own;
    std::string library;
  };
  const Case cases[] = {
      {"unset", nullptr, "2", "2"},
      {"empty", [](const struct stat&) { return std::string(); }, "2", "2"},
      {"not a pair", [](const struct stat&) { return std::string("journal"); }, "2", "2"},
      {"another stream", [&](const struct stat& s) { return id(s, s.st_ino + 1); }, "2", "2"},
      {"this stream", [&](const struct stat& s) { return id(s, s.st_ino); }, "<6>2", "<4>2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    struct stat info {};
    ASSERT_EQ(fstat(fileno(out), &info), 0);
    if (c.variable)
      setenv(JournalStream::kVariable, c.variable(info).c_str(), 1);
    else
      unsetenv(JournalStream::kVariable);
    {
      HeadlessLog log(frame_, out);
      log.Start("opc.tcp://127.0.0.1:4840", "/nonexistent/pelmoran.tst");
      log.LibraryLine(4, "connection lost");
    }
    std::rewind(out);
    char line[3][256] = {};
    for (auto& text : line) ASSERT_NE(std::fgets(text, sizeof text, out), nullptr);
    std::fclose(out);
    EXPECT_EQ(std::string(line[0]).substr(0, c.own.size()), c.own) << line[0];
    EXPECT_EQ(std::string(line[2]).substr(0, c.library.size()), c.library) << line[2];
    EXPECT_NE(std::string(line[2]).find(" pelmoran: warning: connection lost"), std::string::npos)
        << line[2];
  }
  unsetenv(JournalStream::kVariable);
}

TEST(HeadlessLogStatus, EveryStatusHasAText) {
  EXPECT_EQ(HeadlessLog::StatusText(0, ""), "GOOD");
  EXPECT_EQ(HeadlessLog::StatusText(263, "POLL TIMEOUT"), "POLL TIMEOUT");
  EXPECT_EQ(HeadlessLog::StatusText(271, ""), "status 271");
}

}  // namespace
