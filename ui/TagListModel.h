// The rows of a scan's tag list, read from the document when they are shown
// (name, value, type, limits, then quality, status and when the last good
// answer came; a failing scan's rows keep their last values, greyed):
// a refresh only tells the view that every row's values changed, so a scan of
// thousands of tags costs no text work per poll beyond the rows on screen.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

class CPelmoranDoc;

class TagListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kName = 0, kValue = 1, kType = 2, kLow = 3, kHigh = 4, kQuality, kStatus, kTime };

  explicit TagListModel(CPelmoranDoc& doc, QObject* parent = nullptr);

  // Inserts the rows, one per tag, each named once.
  void InsertRows();
  // Every row's value, type and limits may have changed.
  void RefreshTagValues();
  // The document is going: no row reads it from now on.
  void Detach();
  // Texts a column may show, the widest among them; its width is measured on them.
  QStringList ColumnSamples(int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  // Every text the type column can show.
  static QStringList TypeTexts();
  static QIcon QualityIcon(bool good);
  QVariant ToolTip(int row, int column) const;
  bool IsGood() const;
  QString Text(int row, int column) const;
  QString WordOrder(int row) const;

  CPelmoranDoc* m_pDoc;
  QStringList m_names;
};
