#include "ui/OptionsDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "link/DeviceDemotion.h"
#include "ui/DataExchange.h"

OptionsDlg::OptionsDlg(QWidget* parent) : ExchangeDialog(parent) {
  setWindowTitle("Options");
  auto* layout = new QVBoxLayout(this);
  auto* demotion = new QGroupBox("Demotion of a device that does not answer", this);
  auto* form = new QFormLayout(demotion);
  form->addRow("Consecutive time-outs (0 never):", AddEdit(kTimeoutsId));
  form->addRow("Held back for (seconds):", AddEdit(kHoldSecondsId));
  layout->addWidget(demotion);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDlg::reject);
  layout->addWidget(buttons);
}

void OptionsDlg::DoDataExchange(DataExchange& dx) {
  QLineEdit* timeouts = Control<QLineEdit>(kTimeoutsId);
  dx.Int(timeouts, m_nTimeouts);
  dx.MinMax(timeouts, m_nTimeouts, 0, DemotionPolicy::kMostTimeouts);
  QLineEdit* hold = Control<QLineEdit>(kHoldSecondsId);
  dx.Int(hold, m_nHoldSeconds);
  dx.MinMax(hold, m_nHoldSeconds, 1, DemotionPolicy::kLongestHoldSeconds);
}
