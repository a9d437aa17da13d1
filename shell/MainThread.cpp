#include "shell/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

void PostToMainThread(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}
