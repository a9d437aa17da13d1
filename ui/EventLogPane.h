// The dockable event log: timestamped lines of what changed while the
// program ran (an endpoint's connection, a device demoted or answering again,
// a scan's status) and the program's warnings, filtered by endpoint and
// severity. Every line also goes to a writer (the window program's rolling
// file beside the configuration).
#pragma once

#include <QDockWidget>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

class CPelmoranDoc;
class Runtime;
class QComboBox;
class QTreeWidget;

class EventLogPane : public QDockWidget {
  Q_OBJECT
 public:
  enum class Severity { kInfo, kWarning, kError };
  enum Column { kTime, kSeverity, kEndpoint, kText };
  static constexpr int kWatchMs = 500;
  // The oldest lines go beyond this many.
  static constexpr int kMostLines = 5000;

  explicit EventLogPane(Runtime& runtime, QWidget* parent = nullptr);

  void SetWriter(std::function<void(const std::string&)> writer) { m_writer = std::move(writer); }
  // One line, shown (when the filters let it) and written.
  void Add(Severity severity, const std::string& endpoint, const QString& text);
  // Lines for whatever changed since the last look; the timer calls it.
  void Watch();
  QTreeWidget& List() const { return *m_pList; }
  QComboBox& EndpointFilter() const { return *m_pEndpointFilter; }
  QComboBox& SeverityFilter() const { return *m_pSeverityFilter; }

 private:
  struct EndpointSeen {
    bool connected = false;
    bool lost = false;
    std::set<uint8_t> demoted;
  };
  void WatchEndpoints();
  void WatchScans();
  void ApplyFilters();
  void FillEndpointFilter();
  bool Passes(Severity severity, const QString& endpoint) const;

  Runtime& m_runtime;
  QTreeWidget* m_pList;
  QComboBox* m_pEndpointFilter;
  QComboBox* m_pSeverityFilter;
  std::function<void(const std::string&)> m_writer;
  std::map<std::string, EndpointSeen> m_endpoints;
  std::map<const CPelmoranDoc*, int32_t> m_status;
};
