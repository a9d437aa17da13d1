// What the program without windows tells whoever watches its standard error:
// where clients reach it and which configuration it restores, and every
// change of an endpoint's connection or a scan's status (never one line per
// poll), and every line of the program's logger. Each line starts with the
// local time; written to the journal, it is preceded by its priority.
#pragma once

#include <QObject>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class EndpointRegistry;
class CPelmoranDoc;
class PollClock;

class HeadlessLog : public QObject {
  Q_OBJECT
 public:
  static constexpr int kEndpointCheckMs = 500;

  explicit HeadlessLog(EndpointRegistry& frame, std::FILE* out = stderr, QObject* parent = nullptr);
  ~HeadlessLog() override;

  // The two lines of start-up; from then on endpoints are watched.
  void Start(const std::string& url, const std::string& configPath);
  // Reports the scan's status whenever it differs from the last reported.
  void Watch(PollClock& clock);
  void Forget(const CPelmoranDoc& doc);
  // Reports every endpoint whose connection changed since the last check.
  void CheckEndpoints();
  // A line of the program's logger, with its level said where it matters.
  void LibraryLine(int level, const std::string& text);

  static std::string StatusText(int status, const std::string& text);
  // One line as this log writes it; journal: out is the journal's stream.
  static void Write(std::FILE* out, bool journal, int level, const std::string& text);

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  // Each device of the endpoint that was demoted or answers again since the last check.
  void CheckDemotions(const std::string& endpoint, const std::vector<uint8_t>& demoted);
  void OnScanFinished(const CPelmoranDoc& doc);
  static constexpr int kInfo = 6;  // the journal's priority of the log's own lines

  void Line(const std::string& text, int level = kInfo);

  EndpointRegistry& m_frame;
  std::FILE* m_pOut;
  bool m_bJournal;
  int m_nTimer = 0;
  std::map<std::string, bool> m_endpoints;
  std::map<std::string, std::vector<uint8_t>> m_demoted;
  std::map<const CPelmoranDoc*, int> m_scans;
};
