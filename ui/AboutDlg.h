// The about box: the program's title, its version and its logo.
#pragma once

#include <QDialog>

class AboutDlg : public QDialog {
  Q_OBJECT
 public:
  enum class ControlId { kLogo = 1018 };

  explicit AboutDlg(QWidget* parent = nullptr);

  // The logo as painted, 120 by 50 pixels.
  static QPixmap Logo();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // Marks where the logo goes; never shown itself.
  QWidget* m_pLogoPlace;
};
