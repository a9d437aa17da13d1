// "MQTT": the [Mqtt] section of pelmoran.ini, every key of it, checked on OK
// and written to the file; and while the publisher runs, its counters.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "mqtt/MqttPublisher.h"
#include "ui/ExchangeDialog.h"

class QCheckBox;
class QComboBox;
class QLabel;

class MqttDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  static constexpr int kEnabledId = 1100;
  static constexpr int kHostId = 1101;
  static constexpr int kPortId = 1102;
  static constexpr int kProtocolId = 1103;
  static constexpr int kClientId = 1104;
  static constexpr int kUsernameId = 1105;
  static constexpr int kPasswordId = 1106;
  static constexpr int kTlsId = 1107;
  static constexpr int kCaFileId = 1108;
  static constexpr int kCertFileId = 1109;
  static constexpr int kKeyFileId = 1110;
  static constexpr int kQosId = 1111;
  static constexpr int kKeepAliveId = 1112;
  static constexpr int kFormatId = 1113;
  static constexpr int kGroupId = 1114;
  static constexpr int kEdgeNodeId = 1115;
  static constexpr int kDevicesId = 1116;
  static constexpr int kTopicPrefixId = 1117;
  static constexpr int kSpoolId = 1118;
  static constexpr int kPrimaryHostId = 1119;
  static constexpr int kCountersRefreshMs = 1000;

  // The publisher's counters while it runs, none while it does not.
  using CountersSource = std::function<std::optional<mqtt::PublisherCounters>()>;

  // settingsPath: pelmoran.ini, read now and written on OK.
  MqttDlg(std::string settingsPath, CountersSource counters, QWidget* parent = nullptr);

  // What the file holds, and after OK what it has been given.
  mqtt::MqttSettings m_settings;

  QLabel& Counters() const { return *m_pCounters; }
  void RefreshCounters();

 protected:
  void DoDataExchange(DataExchange& dx) override;
  // Writes the file after the checks; stays open, saying so, when it cannot.
  void OnOK() override;

 private:
  QCheckBox* AddCheck(int id, const QString& text);
  QComboBox* AddCombo(int id, const QStringList& items);
  void ExchangeChoices(DataExchange& dx);
  void ExchangeConnection(DataExchange& dx);
  void ExchangeSecurity(DataExchange& dx);
  void ExchangeNames(DataExchange& dx);
  // The operator checked or unchecked TLS: a default port follows.
  void OnTlsClicked(bool on);

  std::string m_strSettingsPath;
  CountersSource m_counters;
  QLabel* m_pCounters;
};
