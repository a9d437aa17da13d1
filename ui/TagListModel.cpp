#include "ui/TagListModel.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QIcon>
#include <QStyle>
#include <algorithm>
#include <string>

#include "pointdb/DataType.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/PelmoranDoc.h"

namespace {

const char* const kHeaders[] = {"TagName",    "Current Value", "Type",   "Low Limit",
                                "High Limit", "Quality",       "Status", "Last Good"};
constexpr int kColumns = static_cast<int>(std::size(kHeaders));
using enum TagListModel::Column;

// OPC UA stamps time in 100 ns ticks since 1601; the epoch is 11644473600 s later.
constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kEpochMs = 11644473600000;

QString LocalTime(int64_t ticks) {
  if (ticks <= 0) return {};
  return QDateTime::fromMSecsSinceEpoch(ticks / kTicksPerMs - kEpochMs)
      .toString("yyyy-MM-dd hh:mm:ss");
}

// Numbers line up on their last digit; the short quality word keeps apart
// from the limit beside it.
int Alignment(int column) {
  const bool number = column == kValue || column == kLow || column == kHigh;
  const Qt::Alignment across =
      number ? Qt::AlignRight : (column == kQuality ? Qt::AlignHCenter : Qt::AlignLeft);
  return int(across | Qt::AlignVCenter);
}

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
  // Whole rows: the name cell's tint and the quality icon follow the answer too.
  emit dataChanged(index(0, 0), index(static_cast<int>(m_names.size()) - 1, kColumns - 1));
}

void TagListModel::Detach() {
  beginResetModel();
  m_pDoc = nullptr;
  m_names.clear();
  endResetModel();
}

QStringList TagListModel::ColumnSamples(int column) const {
  switch (column) {
    case kName: return m_names;
    case kValue: return {"-2147483648", "-32768.00"};
    case kType: return TypeTexts();
    case kQuality: return {"Good", "Bad"};
    case kStatus: return {"CHANNEL NOT CONNECTED", "INVALID SLAVE RESPONSE"};
    case kTime: return {"2000-12-30 20:00:00"};
    default: return {"-32768.00"};
  }
}

int TagListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_names.size());
}

int TagListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

bool TagListModel::IsGood() const { return m_pDoc->m_scan.Status() == ScanStatus::Ok; }

QVariant TagListModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::TextAlignmentRole) return Alignment(index.column());
  if (!m_pDoc || index.row() >= m_names.size()) return {};
  switch (role) {
    case Qt::DisplayRole: return Text(index.row(), index.column());
    // A failing scan's rows keep their last values, greyed: they are stale.
    case Qt::ForegroundRole:
      if (!IsGood() && index.column() >= kValue && index.column() <= kHigh)
        return QBrush(QColor(0x5f, 0x5f, 0x5f));
      return {};
    // A text cut to its column is read whole in the tip; both word orders
    // of a type share its text, and the tip tells them apart.
    case Qt::ToolTipRole: return ToolTip(index.row(), index.column());
    // Never colour alone: the quality carries a sign as well.
    case Qt::DecorationRole:
      return index.column() == kQuality ? QualityIcon(IsGood()) : QVariant();
    case Qt::BackgroundRole:
      return QBrush(IsGood() ? QColor(0xe8, 0xf5, 0xe9) : QColor(0xfd, 0xe8, 0xe6));
    default: return {};
  }
}

QStringList TagListModel::TypeTexts() {
  QStringList texts;
  for (int32_t type = 0; type <= kLastDataType; ++type)
    if (const DataTypeInfo* info = FindDataTypeInfo(type)) texts << info->typeText;
  return texts;
}

QIcon TagListModel::QualityIcon(bool good) {
  static const QIcon goodIcon = QApplication::style()->standardIcon(QStyle::SP_DialogApplyButton);
  static const QIcon badIcon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
  return good ? goodIcon : badIcon;
}

QVariant TagListModel::ToolTip(int row, int column) const {
  if (column == kQuality || column == kTime) return {};
  const QString text = Text(row, column);
  if (column != kType) return text;
  const QString order = WordOrder(row);
  return order.isEmpty() ? text : text + ": " + order;
}

QString TagListModel::WordOrder(int row) const {
  const CModbusTag* tag = m_pDoc->GetTag(row);
  if (!tag || !IsLongDataType(tag->m_nDataType)) return {};
  const DataType type = tag->GetDataType();
  const bool lowFirst = type == DataType::FloatLowWordFirst || type == DataType::LongLowWordFirst;
  return lowFirst ? "Low word first" : "High word first (word swapped)";
}

QString TagListModel::Text(int row, int column) const {
  if (column == kName) return m_names[row];
  if (column == kQuality) return IsGood() ? "Good" : "Bad";
  if (column == kStatus)
    return IsGood() ? QString("OK") : QString::fromStdString(m_pDoc->m_scan.GetStatusText());
  if (column == kTime) return LocalTime(m_pDoc->m_lastGoodTime);
  std::string texts[4];
  if (IsGood())
    m_pDoc->FormatTag(row, texts[0], texts[1], texts[2], texts[3]);
  else
    m_pDoc->FormatLastGood(row, texts[0], texts[1], texts[2], texts[3]);
  return QString::fromStdString(texts[column - kValue]);
}

QVariant TagListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::DisplayRole) return QString(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) return Alignment(section);
  return {};
}
