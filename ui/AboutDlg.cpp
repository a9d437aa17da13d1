#include "ui/AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kLogoWidth = 120;
constexpr int kLogoHeight = 50;

QPixmap DrawnLogo() {
  QPixmap logo(kLogoWidth, kLogoHeight);
  QPainter p(&logo);
  QLinearGradient sky(0, 0, 0, kLogoHeight);
  sky.setColorAt(0, QColor(18, 60, 112));
  sky.setColorAt(1, QColor(46, 130, 190));
  p.fillRect(logo.rect(), sky);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(250, 200, 60), 3));
  // A register trace rising across the badge.
  const QPointF trace[] = {{6, 40}, {24, 40}, {24, 26}, {44, 26}, {44, 14}, {62, 14}};
  p.drawPolyline(trace, 6);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(17);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(40, 20, 78, 28), Qt::AlignRight | Qt::AlignVCenter, "pelmoran");
  return logo;
}

}  // namespace

QPixmap AboutDlg::Logo() {
  // The program's compiled-in logo; builds without it draw one.
  const QPixmap logo(":/logo.png");
  return logo.isNull() ? DrawnLogo() : logo.scaled(kLogoWidth, kLogoHeight);
}

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent), m_pLogoPlace(new QWidget(this)) {
  setWindowTitle("About pelmoran");
  setModal(true);
  m_pLogoPlace->setObjectName(QString::number(static_cast<int>(ControlId::kLogo)));
  m_pLogoPlace->setFixedSize(kLogoWidth, kLogoHeight);
  auto* title = new QLabel("pelmoran Version 3.04", this);
  title->setObjectName("title");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &AboutDlg::accept);
  auto* layout = new QGridLayout(this);
  layout->addWidget(m_pLogoPlace, 0, 0, 2, 1);
  layout->addWidget(title, 0, 1);
  layout->addWidget(new QLabel("Modbus master and OPC UA server", this), 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);
}

void AboutDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  QPainter p(this);
  // Copied unchanged at the marked place, drawn 120 by 50.
  p.drawPixmap(QRect(m_pLogoPlace->pos(), QSize(kLogoWidth, kLogoHeight)), Logo());
}
