#include "ui/WidgetMessageBox.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/MessageBox.h"

void InstallWidgetMessageBox() {
  SetMessageBoxHandler([](const std::string& text, unsigned type) {
    const auto icon = (type & MB_ICONEXCLAMATION) ? QMessageBox::Warning : QMessageBox::NoIcon;
    QMessageBox box(icon, "pelmoran", QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
    return 1;  // IDOK: every box of the program has only an OK button
  });
}
