#include "ui/TagListModel.h"

#include <algorithm>
#include <string>

#include "pointdb/PelmoranDoc.h"

namespace {

const char* const kHeaders[] = {"TagName", "Current Value", "Type", "Low Limit", "High Limit"};

}  // namespace

TagListModel::TagListModel(CPelmoranDoc& doc, QObject* parent)
    : QAbstractTableModel(parent), m_pDoc(&doc) {}

void TagListModel::InsertRows() {
  // The tag count of the record may claim more tags than the document has;
  // only tags that exist get a row.
  const int count = std::min<int>(m_pDoc->m_scan.m_nTagCount, m_pDoc->GetTagCount());
  beginResetModel();
  m_names.clear();
  for (int i = 0; i < count; ++i) m_names.append(QString::fromStdString(m_pDoc->GetTagName(i)));
  endResetModel();
}

void TagListModel::RefreshTagValues() {
  if (m_names.isEmpty()) return;
  emit dataChanged(index(0, 1), index(static_cast<int>(m_names.size()) - 1, 4));
}

void TagListModel::Detach() {
  beginResetModel();
  m_pDoc = nullptr;
  m_names.clear();
  endResetModel();
}

QStringList TagListModel::ColumnSamples(int column) const {
  switch (column) {
    case 0: return m_names;
    case 1: return {"-2147483648", "-32768.00"};
    case 2: return {"IEEE Floating-Pt", "32-Bit Integer", "Scaled 0-9999"};
    default: return {"-32768.00"};
  }
}

int TagListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_names.size());
}

int TagListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant TagListModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole || !m_pDoc || index.row() >= m_names.size()) return {};
  if (index.column() == 0) return m_names[index.row()];
  std::string texts[4];
  m_pDoc->FormatTag(index.row(), texts[0], texts[1], texts[2], texts[3]);
  return QString::fromStdString(texts[index.column() - 1]);
}

QVariant TagListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section > 4) return {};
  if (role == Qt::DisplayRole) return QString(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}
