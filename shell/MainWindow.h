// The window of the main frame in the window program: the multiple-document
// area with one child window per scan, the menus and the accelerators.
#pragma once

#include <QMainWindow>

class CMainFrame;
class IViewFactory;
class QMdiArea;

class CMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit CMainWindow(CMainFrame& frame, QWidget* parent = nullptr);
  ~CMainWindow() override;

  // The views of scan documents are child windows of this window.
  IViewFactory* ViewFactory();

 private:
  CMainFrame& m_frame;
  QMdiArea* m_pMdiArea;
};
