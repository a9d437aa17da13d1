// The dockable project tree, the window's main navigation: every endpoint,
// under it each slave device its scans poll or its map names, under that each
// scan and the device's register map, every item with a state icon and text
// (connected, demoted, failing and why), read again once a second. A
// double-click on a scan shows its window.
#pragma once

#include <QDockWidget>
#include <string>

class CPelmoranDoc;
class Runtime;
class QTreeWidget;
class QTreeWidgetItem;

class ProjectTree : public QDockWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1000;
  // What an item stands for. A device's register map hangs under its item,
  // with its tags under it and its planned reads as its tooltip.
  enum class Kind { kEndpoint = 1, kDevice, kScan, kRegisterMap };
  enum Column { kName, kState };

  explicit ProjectTree(Runtime& runtime, QWidget* parent = nullptr);

  QTreeWidget& Tree() const { return *m_pTree; }
  // Items made anew when endpoints or scans came or went; states always.
  void Refresh();
  // The selected scan, or the selected endpoint's name; null or empty when
  // another kind of item (or none) is selected.
  CPelmoranDoc* SelectedScan() const;
  std::string SelectedEndpoint() const;
  // The scan's item becomes the current one (its window was activated).
  void Select(const CPelmoranDoc& doc);
  void SelectEndpoint(const std::string& name);
  // The item of a slave device, for what hangs under it; null when no scan
  // polls it.
  QTreeWidgetItem* DeviceItem(const std::string& endpoint, int slave) const;

  static Kind KindOf(const QTreeWidgetItem& item);

 signals:
  void openRequested(CPelmoranDoc* doc);
  void deleteRequested();
  void selectionChanged();

 private:
  // What the items are made of; when it changes they are made anew.
  QStringList Shape() const;
  void Rebuild();
  void ShowStates();
  // A document the template still holds, or null.
  CPelmoranDoc* Live(const QTreeWidgetItem* item) const;

  Runtime& m_runtime;
  QTreeWidget* m_pTree;
  QStringList m_shape;
};
