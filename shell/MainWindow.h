// The window of the main frame in the window program: the multiple-document
// area with one child window per scan, the menus and the accelerators.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class FileCommands;
class EndpointsPane;
class HealthDlg;
class CMainFrame;
class CPelmoranView;
class WidgetViewFactory;
class IViewFactory;
class QMdiArea;
class QLabel;
class QLineEdit;
class QMenu;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Command ids of the menus and accelerators.
  enum Command {
    ID_VIEW_SCAN_DEFINITION = 32772,
    ID_SAVE_TEST_CONFIG = 32794,
    ID_RESTORE_TEST_CONFIG = 32795,
    ID_VIEW_DEBUG_DATA = 32797,
    ID_ENDPOINT_NEW = 32801,
    ID_ENDPOINT_REMOVE = 32802,
    ID_DATA_NEW = 32804,
    ID_DATA_DELETE = 32805,
    ID_MODBUS_HEALTH = 32806,
    ID_MODBUS_TRACE = 32807,
    ID_MODBUS_OPTIONS = 32808,
    ID_OPCUA_SECURITY = 32809,
    ID_EXPORT_CSV = 32810,
    ID_IMPORT_CSV = 32811,
    ID_MQTT = 32812,
    ID_IMPORT_MAP = 32813,
    ID_EXPORT_MAP = 32814,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_PRINT = 57607,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_FINDER = 57667,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    // The program's own: closing, cycling and arranging the scans' windows.
    ID_FILE_CLOSE = 57602,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE = 57651,
    ID_WINDOW_NEXT = 32820,
  };

  explicit MainWindow(CMainFrame& frame, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The views of scan documents are child windows of this window.
  IViewFactory* ViewFactory();

  QAction* Action(int id) const;
  // The view of the current child window, or null.
  CPelmoranView* ActiveView() const;
  QMdiArea& MdiArea() const { return *m_pMdiArea; }

  // Enabling of the commands, asked whenever a menu opens.
  void UpdateCommandUI();
  // The menus of no document (MENU 128) or of open documents (MENU 129),
  // and the title with the current document's.
  void UpdateFrame();

  // The window and its scans' windows where they were when it last closed;
  // read once the configuration directory is known.
  void RestoreLayout();
  // False when the settings file could not be written.
  bool SaveLayout() const;

  // A line of the program's logger, in the status bar for a while.
  void ShowLibraryLine(int level, const std::string& text);

  // Opens the program's manual; the desktop's browser by default.
  static std::function<bool(const QUrl&)>& UrlOpener();
  // The manual beside the executable.
  static QString HelpFile();

  // Commands.
  // Ctrl+N: another scan like the last one defined; the scan definition
  // dialog while none has been.
  void OnFileNew();
  void OnEndpointNew();
  void OnEndpointRemove();
  void OnDataNew();
  void OnHelpTopics();
  void OnAppAbout();
  // The endpoint health dialog, modeless: opened once, raised after.
  void OnModbusHealth();
  // Frame Trace checked: every frame into the rolling trace file beside the
  // configuration; unchecked: no trace at all.
  void OnModbusTrace(bool on);
  void OnModbusOptions();
  void OnOpcUaSecurity();
  // The MQTT settings; after OK the publisher runs anew with them.
  void OnMqtt();
  HealthDlg* HealthDialog() const;
  EndpointsPane& Endpoints() const { return *m_pEndpointsPane; }
  // The OPC UA address clients connect to and how many are connected, in
  // the status bar; read again once a second.
  void RefreshServerStatus();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Where the layout is kept; empty while no configuration directory is known.
  std::string LayoutPath() const;
  void FillWindowMenu();
  void CreateStatusBar();
  // Save, discard or go on: false when the window is to stay open.
  bool AskToSaveBeforeClosing();
  // Where Save Test Config wrote, in the status bar until the next message.
  void ReportSaved(const QString& path);
  QAction* AddCommand(int id, const QString& text, std::function<void()> handler);
  void CreateCommands();
  void CreateAccelerators();
  void CreateMenus();
  QMenu* NewMenu(const QString& title, std::initializer_list<int> ids);
  void WithActiveView(void (CPelmoranView::*command)());

  CMainFrame& m_frame;
  QMdiArea* m_pMdiArea;
  std::unique_ptr<WidgetViewFactory> m_pViews;
  std::unique_ptr<FileCommands> m_pFiles;
  std::map<int, QAction*> m_commands;
  std::vector<QMenu*> m_noDocumentMenus;
  std::vector<QMenu*> m_documentMenus;
  QMenu* m_pWindowMenu = nullptr;
  bool m_bDocumentMenus = true;
  // The operator changed endpoints or scans since the configuration was
  // last saved or restored; the operator's closing of the window (File Exit,
  // the close box) then asks to save.
  bool m_bModified = false;
  // The close under way comes from File Exit.
  bool m_bExitCommand = false;
  QPointer<HealthDlg> m_pHealth;
  EndpointsPane* m_pEndpointsPane;
  QLineEdit* m_pServerUrl;
  QLabel* m_pClients;
};
