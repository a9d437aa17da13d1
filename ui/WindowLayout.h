// Where the main window and each scan's child window stood and how wide the
// columns of its list were, kept in the settings file beside the
// configuration so that a restart shows the plant as the operator left it.
// The configuration and scan files hold none of it: their bytes are fixed.
#pragma once

#include <QRect>
#include <string>
#include <vector>

class CChildFrame;
class QMainWindow;
class QMdiArea;

class WindowLayout {
 public:
  // An empty path remembers nothing.
  explicit WindowLayout(std::string settingsPath) : m_path(std::move(settingsPath)) {}

  // False when nothing was kept; the window then stays as it is.
  bool RestoreFrame(QMainWindow& window) const;
  // A scan seen before (by its title) gets its place and columns back,
  // moved into the area when the area has shrunk since.
  bool RestoreChild(CChildFrame& child, const QMdiArea& area) const;
  // False when the file could not be written.
  bool Save(const QMainWindow& window, const std::vector<CChildFrame*>& children) const;

  // wanted, shrunk to fit area and moved into it, so its title bar is
  // always within reach.
  static QRect PlaceInView(const QRect& wanted, const QRect& area);

 private:
  std::string m_path;
};
