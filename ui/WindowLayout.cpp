#include "ui/WindowLayout.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QMdiArea>
#include <QScreen>
#include <algorithm>

#include "pointdb/PelmoranDoc.h"
#include "runtime/SettingsFile.h"
#include "ui/ChildFrame.h"
#include "ui/PelmoranView.h"

namespace {

constexpr const char* kFrameSection = "Window";
// Far beyond any screen, yet no sum of two overflows.
constexpr int kFarthest = 1 << 20;
constexpr int kColumnsKept = 16;

std::string ChildSection(const CChildFrame& child) {
  return "Scan " + child.GetDocument().m_strTitle;
}

QRect ReadRect(const SettingsFile& file, const std::string& section) {
  const int width = file.GetInt(section, "Width", 0, 1, kFarthest);
  const int height = file.GetInt(section, "Height", 0, 1, kFarthest);
  return QRect(file.GetInt(section, "X", 0, -kFarthest, kFarthest),
               file.GetInt(section, "Y", 0, -kFarthest, kFarthest), width, height);
}

void WriteRect(SettingsFile& file, const std::string& section, const QRect& rect) {
  file.SetInt(section, "X", rect.x());
  file.SetInt(section, "Y", rect.y());
  file.SetInt(section, "Width", rect.width());
  file.SetInt(section, "Height", rect.height());
}

std::string ColumnKey(int column) { return "Column" + std::to_string(column); }

}  // namespace

QRect WindowLayout::PlaceInView(const QRect& wanted, const QRect& area) {
  QRect placed(wanted.topLeft(), wanted.size().boundedTo(area.size()));
  placed.moveLeft(std::clamp(placed.left(), area.left(), area.right() + 1 - placed.width()));
  placed.moveTop(std::clamp(placed.top(), area.top(), area.bottom() + 1 - placed.height()));
  return placed;
}

bool WindowLayout::RestoreFrame(QMainWindow& window) const {
  if (m_path.empty()) return false;
  const SettingsFile file = SettingsFile::Load(m_path);
  const QRect kept = ReadRect(file, kFrameSection);
  if (kept.isEmpty()) return false;
  const QScreen* screen = window.screen();
  window.setGeometry(screen ? PlaceInView(kept, screen->availableGeometry()) : kept);
  // A window started minimized (-Minimize) stays so until the operator opens it.
  if (file.GetInt(kFrameSection, "Maximized", 0, 0, 1) == 1 && !window.isMinimized())
    window.showMaximized();
  return true;
}

bool WindowLayout::RestoreChild(CChildFrame& child, const QMdiArea& area) const {
  if (m_path.empty()) return false;
  const SettingsFile file = SettingsFile::Load(m_path);
  const std::string section = ChildSection(child);
  const QRect kept = ReadRect(file, section);
  if (kept.isEmpty()) return false;
  child.setGeometry(PlaceInView(kept, area.viewport()->rect()));
  if (file.GetInt(section, "Maximized", 0, 0, 1) == 1) child.showMaximized();
  CPelmoranView& view = child.View();
  const int columns = std::min(view.header()->count(), kColumnsKept);
  for (int column = 0; column < columns; ++column) {
    const int width = file.GetInt(section, ColumnKey(column), 0, 1, kFarthest);
    if (width > 0) view.setColumnWidth(column, width);
  }
  return true;
}

bool WindowLayout::Save(const QMainWindow& window,
                        const std::vector<CChildFrame*>& children) const {
  if (m_path.empty()) return true;
  SettingsFile file = SettingsFile::Load(m_path);
  // Never a size the screen cannot show: the next start would open past it.
  const QScreen* screen = window.screen();
  const QRect normal = window.normalGeometry();
  WriteRect(file, kFrameSection,
            screen ? PlaceInView(normal, screen->availableGeometry()) : normal);
  file.SetInt(kFrameSection, "Maximized", window.isMaximized() ? 1 : 0);
  for (const CChildFrame* child : children) {
    const std::string section = ChildSection(*child);
    WriteRect(file, section, child->geometry());
    file.SetInt(section, "Maximized", child->isMaximized() ? 1 : 0);
    const CPelmoranView& view = child->View();
    const int columns = std::min(view.header()->count(), kColumnsKept);
    for (int column = 0; column < columns; ++column)
      file.SetInt(section, ColumnKey(column), view.columnWidth(column));
  }
  return file.Save(m_path);
}
