#include "shell/MainWindow.h"

#include <QMdiArea>

CMainWindow::CMainWindow(CMainFrame& frame, QWidget* parent)
    : QMainWindow(parent), m_frame(frame), m_pMdiArea(new QMdiArea(this)) {
  setWindowTitle("pelmoran");
  setCentralWidget(m_pMdiArea);
}

CMainWindow::~CMainWindow() = default;

IViewFactory* CMainWindow::ViewFactory() { return nullptr; }
