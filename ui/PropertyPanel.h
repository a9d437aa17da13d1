// The dockable property panel: the fields of the endpoint or scan selected in
// the project tree, editable at any time. Each field is checked as it is left
// (Enter, or the focus going elsewhere): a refusal names the field and keeps
// what was typed; an accepted value is applied at once, the endpoint
// reconnecting or the scan made anew with its tags where the change needs it.
#pragma once

#include <QDockWidget>
#include <string>

class CPelmoranDoc;
class DataExchange;
class Runtime;
class QComboBox;
class QLineEdit;
class QStackedWidget;

class PropertyPanel : public QDockWidget {
  Q_OBJECT
 public:
  explicit PropertyPanel(Runtime& runtime, QWidget* parent = nullptr);

  void ShowEndpoint(const std::string& name);
  void ShowScan(CPelmoranDoc* doc);
  void ShowNothing();
  // The endpoint shown, or empty.
  const std::string& Endpoint() const { return m_endpoint; }
  // The scan shown, or null (none, or it is gone).
  CPelmoranDoc* Scan() const;
  // Applies the field's value; false when it was refused.
  bool Apply(QWidget* field);

 signals:
  // Something was applied: the configuration differs from its file; scan is
  // the scan shown now (made anew by the change), or null.
  void applied(CPelmoranDoc* scan);

 private:
  QLineEdit* Edit(const char* name);
  QComboBox* List(const char* name);
  void BuildEndpointPage();
  void BuildScanPage();
  void FillEndpoint();
  void FillScan();
  bool ApplyEndpoint(QWidget* field, DataExchange& dx);
  bool ApplyScan(QWidget* field, DataExchange& dx);
  bool RenameScan(CPelmoranDoc& doc, DataExchange& dx);

  Runtime& m_runtime;
  QStackedWidget* m_pPages;
  std::string m_endpoint;
  CPelmoranDoc* m_pDoc = nullptr;
  // An edit left while its refusal is shown must not be checked again.
  bool m_bApplying = false;

  QLineEdit* m_pName;
  QLineEdit* m_pHost;
  QLineEdit* m_pPort;
  QComboBox* m_pProtocol;
  QLineEdit* m_pTimeout;
  QLineEdit* m_pBaud;
  QComboBox* m_pParity;
  QComboBox* m_pWordLength;
  QComboBox* m_pStopBits;

  QLineEdit* m_pScanName;
  QLineEdit* m_pSlave;
  QComboBox* m_pPointType;
  QLineEdit* m_pAddress;
  QLineEdit* m_pLength;
  QLineEdit* m_pPoll;
  QComboBox* m_pDataType;
};
