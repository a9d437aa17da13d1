#include "shell/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QWhatsThis>

#include "modbuslib/ComPortMap.h"
#include "platform/ConfigLocation.h"
#include "platform/MessageBox.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/Runtime.h"
#include "shell/FrameTrace.h"
#include "shell/LibraryLog.h"
#include "shell/MainFrame.h"
#include "shell/MapMenu.h"
#include "ui/AboutDlg.h"
#include "ui/ChildFrame.h"
#include "ui/DataDefDlg.h"
#include "ui/EndPointDlg.h"
#include "ui/EndpointsPane.h"
#include "ui/FileCommands.h"
#include "ui/HealthDlg.h"
#include "ui/MqttDlg.h"
#include "ui/OptionsDlg.h"
#include "ui/PelmoranView.h"
#include "ui/RemoveEndpointDlg.h"
#include "ui/SecurityDlg.h"
#include "ui/WidgetMessageBox.h"
#include "ui/WidgetViewFactory.h"
#include "ui/WindowLayout.h"

MainWindow::MainWindow(CMainFrame& frame, QWidget* parent)
    : QMainWindow(parent),
      m_frame(frame),
      m_pMdiArea(new QMdiArea(this)),
      m_pViews(std::make_unique<WidgetViewFactory>(*m_pMdiArea, frame.GetRuntime().m_docTemplate)),
      m_pFiles(std::make_unique<FileCommands>(frame.GetRuntime(), *this)),
      m_pEndpointsPane(new EndpointsPane(frame.Endpoints(), &mbl::ComPortMap::devicePath, this)),
      m_pServerUrl(new QLineEdit(this)),
      m_pClients(new QLabel(this)) {
  setWindowTitle("pelmoran");
  if (QFileInfo::exists(":/icon.png")) setWindowIcon(QIcon(":/icon.png"));
  setCentralWidget(m_pMdiArea);
  resize(900, 600);
  addDockWidget(Qt::BottomDockWidgetArea, m_pEndpointsPane);
  // A few endpoints' rows: the scans keep the room.
  resizeDocks({m_pEndpointsPane}, {m_pEndpointsPane->PreferredHeight()}, Qt::Vertical);
  CreateStatusBar();
  InstallWidgetMessageBox();
  FileCommands::InstallSaveAsPrompt(this);
  CreateCommands();
  CreateAccelerators();
  CreateMenus();
  m_pViews->m_onFramesChanged = [this] { UpdateFrame(); };
  m_pViews->m_onChangedByOperator = [this] { m_bModified = true; };
  m_pViews->m_restorePlace = [this](CChildFrame& child) {
    return WindowLayout(LayoutPath()).RestoreChild(child, *m_pMdiArea);
  };
  connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, [this] { UpdateFrame(); });
  UpdateFrame();
}

MainWindow::~MainWindow() {
  // The area still announces activations while the window goes, when the
  // views it would ask about are gone already.
  disconnect(m_pMdiArea, nullptr, this, nullptr);
  m_pViews->m_onFramesChanged = nullptr;
  m_pViews->m_onChangedByOperator = nullptr;
  m_pViews->m_restorePlace = nullptr;
}

std::string MainWindow::LayoutPath() const {
  return m_frame.m_strConfigPath.empty() ? std::string() : m_frame.SettingsPath();
}

void MainWindow::RestoreLayout() { WindowLayout(LayoutPath()).RestoreFrame(*this); }

bool MainWindow::SaveLayout() const {
  return WindowLayout(LayoutPath()).Save(*this, m_pViews->Frames());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Only the operator's own closing (File Exit, the window's close box) asks:
  // the program ending on SIGTERM must not wait for an answer nobody gives.
  const bool byOperator = m_bExitCommand || event->spontaneous();
  m_bExitCommand = false;
  if (byOperator && !AskToSaveBeforeClosing()) {
    event->ignore();
    return;
  }
  SaveLayout();
  QMainWindow::closeEvent(event);
}

bool MainWindow::AskToSaveBeforeClosing() {
  if (!m_bModified) return true;
  QMessageBox box(QMessageBox::Question, "pelmoran",
                  "The configuration has changed since it was last saved. Save it?",
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Save);
  const int answer = box.exec();
  if (answer == QMessageBox::Discard) return true;
  if (answer != QMessageBox::Save) return false;
  // A cancelled or failed save keeps the window open with its changes.
  ReportSaved(m_pFiles->OnSaveTestConfig(m_frame.m_strConfigPath));
  return !m_bModified;
}

IViewFactory* MainWindow::ViewFactory() { return m_pViews.get(); }

QAction* MainWindow::Action(int id) const {
  const auto it = m_commands.find(id);
  return it == m_commands.end() ? nullptr : it->second;
}

CPelmoranView* MainWindow::ActiveView() const {
  auto* frame = qobject_cast<CChildFrame*>(m_pMdiArea->currentSubWindow());
  return frame && !frame->IsRetired() ? &frame->View() : nullptr;
}

QAction* MainWindow::AddCommand(int id, const QString& text, std::function<void()> handler) {
  auto* action = new QAction(text, this);
  action->setObjectName(QString::number(id));
  if (handler) connect(action, &QAction::triggered, this, [handler] { handler(); });
  m_commands[id] = action;
  return action;
}

void MainWindow::WithActiveView(void (CPelmoranView::*command)()) {
  if (CPelmoranView* view = ActiveView()) (view->*command)();
}

void MainWindow::CreateCommands() {
  AddCommand(ID_SAVE_TEST_CONFIG, "Save &Test Config", [this] {
    ReportSaved(m_pFiles->OnSaveTestConfig(m_frame.m_strConfigPath));
    UpdateFrame();
  });
  // Restoring never asks: what runs is replaced by what the file holds.
  AddCommand(ID_RESTORE_TEST_CONFIG, "&Restore Test Config", [this] {
    if (m_pFiles->OnRestoreTestConfig(m_frame.m_strConfigPath)) m_bModified = false;
    UpdateFrame();
  });
  AddCommand(ID_EXPORT_CSV, "&Export CSV...", [this] { m_pFiles->OnExportCsv(); });
  // What is imported has been saved as the configuration start-up restores.
  AddCommand(ID_IMPORT_CSV, "&Import CSV...", [this] {
    if (m_pFiles->OnImportCsv(m_frame.m_strConfigPath)) m_bModified = false;
    UpdateFrame();
  });
  AddCommand(ID_IMPORT_MAP, "Import Register &Map...", [this] {
    if (MapMenu(m_frame.GetRuntime(), *this).OnImportMap(m_frame.m_strConfigPath))
      m_bModified = false;
    UpdateFrame();
  });
  AddCommand(ID_EXPORT_MAP, "Export Register Ma&p...",
             [this] { MapMenu(m_frame.GetRuntime(), *this).OnExportMap(); });
  AddCommand(ID_APP_EXIT, "E&xit", [this] {
    m_bExitCommand = true;
    close();
  });
  AddCommand(ID_ENDPOINT_NEW, "&New", [this] { OnEndpointNew(); });
  AddCommand(ID_ENDPOINT_REMOVE, "&Remove", [this] { OnEndpointRemove(); });
  AddCommand(ID_DATA_NEW, "&New", [this] { OnDataNew(); });
  // Nobody handles Data Delete: it is always greyed.
  AddCommand(ID_DATA_DELETE, "&Delete", nullptr);
  AddCommand(ID_VIEW_SCAN_DEFINITION, "Scan Definition",
             [this] { WithActiveView(&CPelmoranView::OnScanDefinition); });
  AddCommand(ID_VIEW_DEBUG_DATA, "DebugData",
             [this] { WithActiveView(&CPelmoranView::OnDebugData); });
  AddCommand(ID_HELP_FINDER, "&Help Topics", [this] { OnHelpTopics(); });
  AddCommand(ID_APP_ABOUT, "&About Pelmoran...", [this] { OnAppAbout(); });
  AddCommand(ID_MODBUS_HEALTH, "&Health...", [this] { OnModbusHealth(); });
  AddCommand(ID_MODBUS_TRACE, "Frame &Trace", [this] {
    OnModbusTrace(Action(ID_MODBUS_TRACE)->isChecked());
  })->setCheckable(true);
  AddCommand(ID_MODBUS_OPTIONS, "&Options...", [this] { OnModbusOptions(); });
  AddCommand(ID_OPCUA_SECURITY, "OPC UA &Security...", [this] { OnOpcUaSecurity(); });
  AddCommand(ID_MQTT, "&MQTT...", [this] { OnMqtt(); });
  // The toolkit's own cascade would cut the columns; ours keeps each window
  // wide enough for them.
  AddCommand(ID_WINDOW_CASCADE, "&Cascade", [this] { m_pViews->CascadeAll(); });
  AddCommand(ID_WINDOW_TILE, "&Tile", [this] { m_pMdiArea->tileSubWindows(); });
}

void MainWindow::CreateAccelerators() {
  const std::pair<int, QKeySequence> keys[] = {
      {ID_FILE_NEW, QKeySequence("Ctrl+N")},  {ID_FILE_OPEN, QKeySequence("Ctrl+O")},
      {ID_FILE_SAVE, QKeySequence("Ctrl+S")}, {ID_FILE_PRINT, QKeySequence("Ctrl+P")},
      {ID_HELP, QKeySequence("F1")},          {ID_CONTEXT_HELP, QKeySequence("Shift+F1")},
      {ID_NEXT_PANE, QKeySequence("F6")},     {ID_PREV_PANE, QKeySequence("Shift+F6")}};
  std::map<int, std::function<void()>> handlers{
      {ID_FILE_NEW, [this] { OnFileNew(); }},
      {ID_FILE_OPEN,
       [this] {
         if (m_pFiles->OnFileOpen()) m_bModified = true;
       }},
      {ID_FILE_SAVE,
       [this] {
         if (CPelmoranView* view = ActiveView()) m_pFiles->OnFileSave(view->GetDocument());
         UpdateFrame();
       }},
      {ID_FILE_PRINT, [this] { WithActiveView(&CPelmoranView::OnFilePrint); }},
      {ID_HELP, [this] { OnHelpTopics(); }},
      {ID_CONTEXT_HELP, [] { QWhatsThis::enterWhatsThisMode(); }}};
  for (const auto& [id, key] : keys) {
    QAction* action = AddCommand(id, QString(), handlers[id]);
    action->setShortcut(key);
    addAction(action);
  }
  QAction* close = AddCommand(ID_FILE_CLOSE, QString(), [this] {
    m_pMdiArea->closeActiveSubWindow();
    UpdateFrame();
  });
  close->setShortcuts({QKeySequence("Ctrl+F4"), QKeySequence("Ctrl+W")});
  QAction* next =
      AddCommand(ID_WINDOW_NEXT, QString(), [this] { m_pMdiArea->activateNextSubWindow(); });
  next->setShortcut(QKeySequence("Ctrl+Tab"));
  addActions({close, next});
  // The editing keys have no handler: they are taken and do nothing.
  const std::pair<int, const char*> editing[] = {
      {ID_EDIT_UNDO, "Ctrl+Z"},   {ID_EDIT_UNDO, "Alt+Backspace"}, {ID_EDIT_CUT, "Ctrl+X"},
      {ID_EDIT_CUT, "Shift+Del"}, {ID_EDIT_COPY, "Ctrl+C"},        {ID_EDIT_COPY, "Ctrl+Ins"},
      {ID_EDIT_PASTE, "Ctrl+V"},  {ID_EDIT_PASTE, "Shift+Ins"}};
  for (const auto& [id, key] : editing) {
    QAction* action = Action(id) ? Action(id) : AddCommand(id, QString(), nullptr);
    action->setShortcuts(action->shortcuts() << QKeySequence(key));
    addAction(action);
  }
}

QMenu* MainWindow::NewMenu(const QString& title, std::initializer_list<int> ids) {
  auto* menu = new QMenu(title, this);
  for (int id : ids) {
    if (id == 0)
      menu->addSeparator();
    else
      menu->addAction(Action(id));
  }
  connect(menu, &QMenu::aboutToShow, this, &MainWindow::UpdateCommandUI);
  return menu;
}

void MainWindow::CreateMenus() {
  QMenu* modbus = NewMenu("&Modbus", {});
  modbus->addMenu(NewMenu("&Endpoint", {ID_ENDPOINT_NEW, ID_ENDPOINT_REMOVE}));
  modbus->addMenu(NewMenu("&Data", {ID_DATA_NEW, ID_DATA_DELETE}));
  modbus->addSeparator();
  for (int id : {ID_MODBUS_HEALTH, ID_MODBUS_TRACE, ID_MODBUS_OPTIONS, ID_OPCUA_SECURITY, ID_MQTT})
    modbus->addAction(Action(id));
  QAction* pane = m_pEndpointsPane->toggleViewAction();
  pane->setText("Endpoints &Pane");
  modbus->addAction(pane);
  QMenu* help = NewMenu("&Help", {ID_HELP_FINDER, 0, ID_APP_ABOUT});
  m_noDocumentMenus = {
      NewMenu("&File", {ID_RESTORE_TEST_CONFIG, 0, ID_IMPORT_CSV, ID_EXPORT_CSV, ID_IMPORT_MAP,
                        ID_EXPORT_MAP, 0, ID_APP_EXIT}),
      modbus, help};
  m_pWindowMenu = NewMenu("&Window", {});
  connect(m_pWindowMenu, &QMenu::aboutToShow, this, &MainWindow::FillWindowMenu);
  FillWindowMenu();
  m_documentMenus = {NewMenu("&File", {ID_SAVE_TEST_CONFIG, ID_RESTORE_TEST_CONFIG, 0,
                                       ID_IMPORT_CSV, ID_EXPORT_CSV, ID_IMPORT_MAP, ID_EXPORT_MAP,
                                       0, ID_APP_EXIT}),
                     modbus, NewMenu("&View", {ID_VIEW_SCAN_DEFINITION, ID_VIEW_DEBUG_DATA}),
                     m_pWindowMenu, help};
}

void MainWindow::FillWindowMenu() {
  m_pWindowMenu->clear();
  m_pWindowMenu->addActions({Action(ID_WINDOW_CASCADE), Action(ID_WINDOW_TILE)});
  m_pWindowMenu->addSeparator();
  int number = 0;
  for (CChildFrame* child : m_pViews->Frames()) {
    ++number;
    // The first nine are reached by their digit, the rest by the mouse.
    const QString prefix = number < 10 ? QString("&%1 ").arg(number) : QString("%1 ").arg(number);
    QAction* entry = m_pWindowMenu->addAction(prefix + child->windowTitle());
    entry->setCheckable(true);
    entry->setChecked(child == m_pMdiArea->currentSubWindow());
    connect(entry, &QAction::triggered, this, [this, child = QPointer<CChildFrame>(child)] {
      if (child && !child->IsRetired()) m_pMdiArea->setActiveSubWindow(child);
    });
  }
}

void MainWindow::UpdateCommandUI() {
  const bool endpoints = !m_frame.Endpoints().m_endpoints.empty();
  Action(ID_ENDPOINT_REMOVE)->setEnabled(endpoints);
  Action(ID_DATA_NEW)->setEnabled(endpoints);
  Action(ID_DATA_DELETE)->setEnabled(false);
  // -Trace may have started it on standard error.
  Action(ID_MODBUS_TRACE)->setChecked(FrameTrace::IsRunning());
}

void MainWindow::UpdateFrame() {
  const bool documents = m_pViews->FrameCount() > 0;
  if (documents != m_bDocumentMenus) {
    m_bDocumentMenus = documents;
    menuBar()->clear();
    for (QMenu* menu : documents ? m_documentMenus : m_noDocumentMenus) menuBar()->addMenu(menu);
  }
  UpdateCommandUI();
  // Endpoints come and go with the configuration: shown at once, not at the next second.
  m_pEndpointsPane->Refresh();
  for (QMdiSubWindow* window : m_pMdiArea->subWindowList())
    if (auto* frame = qobject_cast<CChildFrame*>(window); frame && !frame->IsRetired())
      frame->setWindowTitle(QString::fromStdString(frame->GetDocument().m_strTitle));
  CPelmoranView* view = ActiveView();
  setWindowTitle(view ? "pelmoran - " + QString::fromStdString(view->GetDocument().m_strTitle)
                      : QString("pelmoran"));
}

void MainWindow::CreateStatusBar() {
  // An edit, not a label: the operator selects and copies the address.
  m_pServerUrl->setObjectName("opcUaUrl");
  m_pServerUrl->setReadOnly(true);
  m_pServerUrl->setFrame(false);
  m_pServerUrl->setToolTip("The OPC UA endpoint clients connect to");
  m_pServerUrl->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  m_pClients->setObjectName("opcUaClients");
  statusBar()->addPermanentWidget(m_pServerUrl);
  statusBar()->addPermanentWidget(m_pClients);
  auto* timer = new QTimer(this);
  timer->setInterval(EndpointsPane::kRefreshMs);
  connect(timer, &QTimer::timeout, this, &MainWindow::RefreshServerStatus);
  timer->start();
  RefreshServerStatus();
}

void MainWindow::RefreshServerStatus() {
  const TagServerBinding& server = TagServer();
  const char* url = server.GetOPCServerURL ? server.GetOPCServerURL() : nullptr;
  const QString text = url && *url ? QString(url) : QString("OPC UA server not running");
  if (m_pServerUrl->text() != text) {
    m_pServerUrl->setText(text);
    m_pServerUrl->setFixedWidth(m_pServerUrl->fontMetrics().horizontalAdvance(text) + 12);
  }
  const int clients = server.GetOPCClientCount ? server.GetOPCClientCount() : 0;
  m_pClients->setText(clients == 1 ? QString("1 client") : QString("%1 clients").arg(clients));
}

void MainWindow::ReportSaved(const QString& path) {
  if (path.isEmpty()) return;
  m_bModified = false;
  QString text = "Configuration saved to " + path;
  const QString startup = QString::fromStdString(m_frame.m_strConfigPath);
  // Saved elsewhere, it is not what the next start shows.
  if (!startup.isEmpty() && QFileInfo(startup).absoluteFilePath() != path)
    text += "; start-up restores " + startup;
  statusBar()->showMessage(text);
}

void MainWindow::ShowLibraryLine(int level, const std::string& text) {
  // Long enough to be read, short enough not to outlive a connection made again.
  constexpr int kShownMs = 30000;
  statusBar()->showMessage(QString::fromStdString(LibraryLog::levelPrefix(level) + text), kShownMs);
}

void MainWindow::OnEndpointNew() {
  EndpointRegistry& registry = m_frame.Endpoints();
  EndpointChoice choice = registry.ProposeEndpoint();
  CEndPointDlg dlg(this);
  dlg.m_strName = choice.strName;
  dlg.m_strIpAddress = choice.strIpAddress;
  dlg.m_nTcpPort = choice.nTcpPort;
  dlg.m_nCommPort = choice.nCommPort;
  dlg.m_serial = choice.serial;
  dlg.m_nProtocol = choice.nProtocol;
  dlg.m_nPauseMs = choice.nPauseMs;
  dlg.m_nRetries = choice.nRetries;
  dlg.m_nRs485Mode = choice.nRs485Mode;
  dlg.m_nRs485BeforeMs = choice.nRs485BeforeMs;
  dlg.m_nRs485AfterMs = choice.nRs485AfterMs;
  dlg.m_nSharePort = choice.nSharePort;
  dlg.m_strShareBind = choice.strShareBind;
  dlg.m_nShareClients = choice.nShareClients;
  dlg.m_nShareQueued = choice.nShareQueued;
  dlg.m_pFrame = &registry;
  dlg.m_devicePath = &mbl::ComPortMap::devicePath;
  if (dlg.DoModal() != QDialog::Accepted) return;
  choice.strName = dlg.m_strName;
  choice.nCommPort = dlg.m_nCommPort;
  choice.serial = dlg.m_serial;
  choice.strIpAddress = dlg.m_strIpAddress;
  choice.nTcpPort = dlg.m_nTcpPort;
  choice.nProtocol = dlg.m_nProtocol;
  choice.nPauseMs = dlg.m_nPauseMs;
  choice.nRetries = dlg.m_nRetries;
  choice.nRs485Mode = dlg.m_nRs485Mode;
  choice.nRs485BeforeMs = dlg.m_nRs485BeforeMs;
  choice.nRs485AfterMs = dlg.m_nRs485AfterMs;
  choice.nSharePort = dlg.m_nSharePort;
  choice.strShareBind = dlg.m_strShareBind;
  choice.nShareClients = dlg.m_nShareClients;
  choice.nShareQueued = dlg.m_nShareQueued;
  registry.AddEndpoint(choice);
  m_bModified = true;
  UpdateCommandUI();
  m_pEndpointsPane->Refresh();
}

void MainWindow::OnFileNew() {
  Runtime& app = m_frame.GetRuntime();
  // Until a scan has been defined in this run, the pending definition names
  // no endpoint: a scan made from it would poll nothing, unnoticed.
  if (!app.m_strPendingEndpoint.empty()) {
    app.OnFileNew();
    m_bModified = true;
  } else if (m_frame.Endpoints().m_endpoints.empty()) {
    AfxMessageBox("Define an endpoint first: Modbus, Endpoint, New.", MB_OK | MB_ICONEXCLAMATION);
  } else {
    OnDataNew();
  }
}

void MainWindow::OnEndpointRemove() {
  EndpointRegistry& registry = m_frame.Endpoints();
  CRemoveEndpointDlg dlg(this);
  dlg.m_names = registry.GetEndpointNames();
  dlg.m_nSelection = static_cast<int>(dlg.m_names.size()) - 1;
  if (dlg.DoModal() != QDialog::Accepted) return;
  if (dlg.m_nSelection >= 0 && dlg.m_nSelection < static_cast<int>(registry.m_endpoints.size()))
    registry.RemoveEndpoint(dlg.m_nSelection);
  m_bModified = true;
  UpdateCommandUI();
  m_pEndpointsPane->Refresh();
}

void MainWindow::OnDataNew() {
  Runtime& app = m_frame.GetRuntime();
  const EndpointRegistry& registry = app.m_endpoints;
  CDataDefDlg dlg(this);
  dlg.m_strEndpoints = registry.GetEndpointNames();
  dlg.m_nEndpoint = 0;
  dlg.m_nSlaveNode = 1;
  dlg.m_nPointType = 3;
  dlg.m_nPointAddress = 1;
  dlg.m_nScanLength = 100;
  dlg.m_nPollFrequency = 1000;
  dlg.m_bEditable = true;
  dlg.m_bLongTypes = true;
  dlg.m_strDelimiter = app.m_strDefaultDelimiter;
  dlg.m_nDataType = app.m_nDefaultDataType;
  dlg.m_fLowLimit = app.m_fDefaultLowLimit;
  dlg.m_fHighLimit = app.m_fDefaultHighLimit;
  dlg.m_format = app.m_defaultFormat;
  // Cancel keeps nothing, not even a default configuration chosen meanwhile.
  if (dlg.DoModal() != QDialog::Accepted) return;
  // A point type typed that names none of the four would poll with no read function.
  if (dlg.m_nEndpoint < 0 || dlg.m_nEndpoint >= static_cast<int>(registry.m_endpoints.size()) ||
      dlg.m_nPointType < 1) {
    AfxMessageBox("Encountered an improper argument.");
    return;
  }
  const CModbusConnection& endpoint = *registry.m_endpoints[static_cast<size_t>(dlg.m_nEndpoint)];
  auto scan = std::make_unique<CModbusMsg>();
  scan->m_nPort = endpoint.m_nPort;
  scan->m_nSlaveNode = dlg.m_nSlaveNode;
  scan->m_nPointType = static_cast<uint8_t>(dlg.m_nPointType);
  scan->m_nPointAddress = static_cast<uint16_t>(dlg.m_nPointAddress);
  scan->m_nPollFrequency = dlg.m_nPollFrequency;
  scan->m_nScanLength = static_cast<uint16_t>(dlg.m_nScanLength);
  scan->m_strDelimiter = dlg.m_strDelimiter;
  app.m_strDefaultDelimiter = dlg.m_strDelimiter;
  app.m_nDefaultDataType = dlg.m_nDataType;
  app.m_fDefaultLowLimit = dlg.m_fLowLimit;
  app.m_fDefaultHighLimit = dlg.m_fHighLimit;
  app.m_defaultFormat = dlg.m_format;
  app.CreateScan(*scan, endpoint.m_strName);
  m_bModified = true;
}

QString MainWindow::HelpFile() {
  return QString::fromStdString(
      HelpIndexPath(QCoreApplication::applicationDirPath().toStdString()));
}

std::function<bool(const QUrl&)>& MainWindow::UrlOpener() {
  static std::function<bool(const QUrl&)> opener = [](const QUrl& url) {
    return QDesktopServices::openUrl(url);
  };
  return opener;
}

void MainWindow::OnHelpTopics() {
  const QString file = HelpFile();
  if (!QFileInfo::exists(file) || !UrlOpener()(QUrl::fromLocalFile(file)))
    AfxMessageBox("Failed to launch help.");
}

void MainWindow::OnAppAbout() {
  AboutDlg dlg(this);
  dlg.exec();
}

HealthDlg* MainWindow::HealthDialog() const { return m_pHealth; }

void MainWindow::OnModbusHealth() {
  if (!m_pHealth) {
    m_pHealth = new HealthDlg(m_frame.GetRuntime(), this);
    m_pHealth->setAttribute(Qt::WA_DeleteOnClose);
  }
  m_pHealth->show();
  m_pHealth->raise();
  m_pHealth->activateWindow();
}

void MainWindow::OnModbusTrace(bool on) {
  if (!on) {
    FrameTrace::Stop();
    return;
  }
  m_frame.StartTraceFile();
  statusBar()->showMessage("Frame trace in " + QString::fromStdString(m_frame.TracePath()));
}

void MainWindow::OnOpcUaSecurity() {
  const std::string settings = m_frame.SettingsPath();
  SecurityDlg dlg(settings.substr(0, settings.rfind('/') + 1), this);
  dlg.exec();
}

void MainWindow::OnMqtt() {
  MqttDlg dlg(
      m_frame.SettingsPath(), [this] { return m_frame.MqttCounters(); }, this);
  if (dlg.DoModal() == QDialog::Accepted) m_frame.RestartMqtt();
}

void MainWindow::OnModbusOptions() {
  const DemotionPolicy& policy = m_frame.Endpoints().GetDemotionPolicy();
  OptionsDlg dlg(this);
  dlg.m_nTimeouts = policy.timeouts;
  dlg.m_nHoldSeconds = policy.holdSeconds;
  if (dlg.DoModal() != QDialog::Accepted) return;
  if (!m_frame.SaveDemotionPolicy(DemotionPolicy{dlg.m_nTimeouts, dlg.m_nHoldSeconds}))
    AfxMessageBox("The settings could not be written to " + m_frame.SettingsPath() + ".");
}
