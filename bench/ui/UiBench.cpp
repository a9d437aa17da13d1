// The window program's UI thread under the load of a large plant: scans of
// 1,000 holding registers (100 scans unless argv[1] says otherwise) each
// answering every 100 ms with new values, every scan's window open in a
// 1600x1000 main window. The answers take the program's own path (decoded
// into the tags, published, the rows refreshed); no library thread runs, so
// all the work measured is the UI thread's. Reports the thread's share of
// one core over the run and the longest single event it handled (its
// longest frame: an answer round, or a repaint).
//   ui_bench [scans] [tags] [seconds]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/Runtime.h"
#include "shell/MainFrame.h"
#include "shell/MainWindow.h"

namespace {

constexpr int kAnswerMs = 100;

std::atomic<int32_t> g_nextHandle{1};

// The tag server's side costs nothing here: it is measured in bench/opcua.
void InstallQuietTagServer() {
  TagServer().CreateOPCTag = [](const char*, VARIANT, uint16_t, int) { return g_nextHandle++; };
  TagServer().UpdateOPCTag = [](int32_t, VARIANT, uint16_t) { return 0; };
  TagServer().UpdateOPCTagStatus = [](int32_t, VARIANT, uint32_t, int64_t) { return 0; };
  TagServer().RemoveOPCTag = [](int32_t) { return 0; };
}

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Times every event the loop hands out (not those sent from inside one):
// the longest is the longest the window went without answering.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    if (m_nDepth > 0) return QApplication::notify(receiver, event);
    ++m_nDepth;
    QElapsedTimer clock;
    clock.start();
    const bool handled = QApplication::notify(receiver, event);
    if (m_bTiming) m_longestNs = std::max(m_longestNs, clock.nsecsElapsed());
    --m_nDepth;
    return handled;
  }
  void StartTiming() { m_bTiming = true; }
  double LongestMs() const { return static_cast<double>(m_longestNs) / 1e6; }

 private:
  int m_nDepth = 0;
  bool m_bTiming = false;
  qint64 m_longestNs = 0;
};

// One answer to every scan's poll, each register a little further on, each
// posted on its own as the Modbus library's answers are.
void AnswerEveryScan(QObject& target, Runtime& app, uint16_t step) {
  for (int d = 0; d < app.GetDocumentCount(); ++d) {
    QMetaObject::invokeMethod(
        &target,
        [&app, d, step] {
          if (d >= app.GetDocumentCount()) return;
          CPelmoranDoc& doc = *app.m_docTemplate.GetDocument(d);
          auto answer = std::make_unique<CModbusMsg>();
          answer->Copy(doc.m_scan);
          answer->SetStatus(ScanStatus::Ok);
          for (int i = 0; i < answer->m_nScanLength; ++i)
            answer->m_data[i] = static_cast<uint16_t>(step + i);
          doc.OnScanResponse(answer.release());
        },
        Qt::QueuedConnection);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int scans = argc > 1 ? std::atoi(argv[1]) : 100;
  const int tags = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
  if (scans < 1 || tags < 1 || tags > 1000 || seconds < 1) {
    std::fprintf(stderr, "usage: ui_bench [scans] [tags 1-1000] [seconds]\n");
    return 2;
  }
  TimedApplication qt(argc, argv);
  InstallQuietTagServer();
  Runtime app;
  CMainFrame frame(app);
  MainWindow window(frame);
  app.m_docTemplate.m_pViewFactory = window.ViewFactory();
  window.resize(1600, 1000);
  window.show();

  CModbusMsg definition;
  definition.m_nPointType = 3;
  definition.m_nPointAddress = 1;
  definition.m_nScanLength = static_cast<uint16_t>(tags);
  // The scans' own clocks stay quiet: the answers come from the benchmark.
  definition.m_nPollFrequency = 10000;
  for (int s = 0; s < scans; ++s) app.CreateScan(definition, "BENCH");
  QApplication::processEvents();

  uint16_t step = 0;
  QTimer answers;
  QObject::connect(&answers, &QTimer::timeout, [&] { AnswerEveryScan(qt, app, ++step); });
  answers.start(kAnswerMs);
  QTimer::singleShot(seconds * 1000, &qt, &QApplication::quit);
  qt.StartTiming();
  QElapsedTimer wall;
  wall.start();
  const double cpuBefore = ThreadCpuSeconds();
  QApplication::exec();
  const double cpu = ThreadCpuSeconds() - cpuBefore;
  const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;

  std::printf("scans %d x %d tags, answers every %d ms, %d rounds in %.1f s (%s)\n", scans, tags,
              kAnswerMs, static_cast<int>(step), elapsed, qPrintable(qt.platformName()));
  std::printf("ui thread: %.1f %% of one core (goal under 50 %%), longest frame %.1f ms\n",
              100.0 * cpu / elapsed, qt.LongestMs());
  app.CloseAllDocuments();
  app.m_docTemplate.m_pViewFactory = nullptr;
  return 0;
}
