// The endpoint list and every way the rest of the system reaches an endpoint
// (by name from the scans, by library handle from the callbacks). The
// runtime owns it; the main frame works on it. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/ModbusAnswer.h"
#include "link/ModbusConnection.h"
#include "pointdb/ScanLink.h"

class CModbusMsg;
class IEndpointObserver;
class IRequestSink;

// Runs a call on the main thread; empty: at once, on the calling thread.
using MainThreadPost = std::function<void(std::function<void()>)>;

// What the endpoint dialog hands back (and is filled with).
struct EndpointChoice {
  std::string strName;
  int nCommPort = 0;  // 0 Modbus/TCP, n the COM port n
  SerialSettings serial{};
  std::string strIpAddress;  // or a host name
  int nTcpPort = 0;
  // A network endpoint's protocol number (EndpointKind.h): 1 Modbus/TCP.
  int nProtocol = 1;
  int nPauseMs = 0;
  int nRetries = 0;
  int nRs485Mode = 0;  // serial, see CModbusConnection
  int nRs485BeforeMs = 0;
  int nRs485AfterMs = 0;
  // A serial line's port for other masters, see CModbusConnection.
  int nSharePort = 0;
  std::string strShareBind{};
  int nShareClients = 0;
  int nShareQueued = 0;
  // How long a request waits for its answer.
  int nTimeoutMs = 2000;
};

// What an endpoint was made of, for an edit of some of it.
EndpointChoice ChoiceOf(const CModbusConnection& endpoint);

// A dotted address into the address item, any other text as a host name.
void SetAddress(CModbusConnection& endpoint, const std::string& text);

class EndpointRegistry : public IScanLink {
 public:
  // Every endpoint hands the finished requests whose scan has been closed to
  // sink (none: deleted); the others go straight to their scans.
  explicit EndpointRegistry(IRequestSink* sink = nullptr);
  // Stops listening, then deletes every endpoint (each closes its connection).
  ~EndpointRegistry() override;
  EndpointRegistry(const EndpointRegistry&) = delete;
  EndpointRegistry& operator=(const EndpointRegistry&) = delete;

  CModbusConnection* FindEndpoint(const std::string& name) const;
  bool IsEndpointConnected(const std::string& name) const override;
  int SendToEndpoint(const std::string& name, CModbusMsg* request) override;
  void CloseEndpoint(const std::string& name) override;
  bool HasDanielsRegisters(const std::string& name) const override;
  bool IsCommPortInUse(int comPort) const;
  // The answer goes to the endpoint whose connection it names.
  void RouteModbusCallback(const ModbusAnswer& answer);
  void OnConnectionEvent(int event, int handle);
  // From now on every answer of the Modbus library is posted through post
  // and routed here; one registry listens at a time. Stopping drops the
  // answers still on their way.
  void ListenForAnswers(MainThreadPost post = {});
  void StopListening();

  // Endpoint New, without the dialog: what the dialog is filled with, and
  // the endpoint made from what it handed back (appended, connected or not).
  EndpointChoice ProposeEndpoint() const;
  CModbusConnection* AddEndpoint(const EndpointChoice& choice);
  // Appends an endpoint made elsewhere (a configuration file), not connected.
  CModbusConnection* Adopt(std::unique_ptr<CModbusConnection> endpoint);
  // Connects an endpoint of the list; a serial one is up at once.
  void Connect(CModbusConnection& endpoint);
  // Endpoint Remove, without the dialog: the names offered, and the removal.
  std::vector<std::string> GetEndpointNames() const;
  void RemoveEndpoint(int index);
  // An endpoint edited while it runs: the one at index closed (its scans'
  // outstanding polls released) and one made from choice, connected, put in
  // its place. Null when index is outside the list.
  CModbusConnection* ReplaceEndpoint(int index, const EndpointChoice& choice);
  // Every endpoint closed and deleted (restore, shutdown).
  void RemoveAllEndpoints();
  // Timer 3: every Modbus/TCP endpoint without a handle connects anew.
  void ReconnectTcpEndpoints();
  // Every Modbus/TCP endpoint whose connection was lost connects anew when
  // its back-off allows; called often, it costs nothing when none is due.
  void ReconnectDueEndpoints();
  // For every endpoint, present and to come.
  void SetDemotionPolicy(const DemotionPolicy& policy);
  const DemotionPolicy& GetDemotionPolicy() const { return m_demotionPolicy; }
  void SetClock(LinkNow now);
  // Told of every link that comes up or goes down from now on; null: nobody.
  void SetObserver(IEndpointObserver* observer) { m_pObserver = observer; }

  std::vector<std::unique_ptr<CModbusConnection>> m_endpoints;

 private:
  void OnSerialDeviceEvent(CModbusConnection& endpoint, int event);
  void Reconnect(CModbusConnection& endpoint);
  void Equip(CModbusConnection& endpoint) const;
  // Tells the observer when the endpoint's link is not what it was last told.
  void ReportLink(CModbusConnection& endpoint);

  IRequestSink* m_pSink;
  IEndpointObserver* m_pObserver = nullptr;
  // What the answers on their way hold of the registry while it listens.
  std::shared_ptr<EndpointRegistry*> m_pListener;
  DemotionPolicy m_demotionPolicy;
  LinkNow m_now = LinkClock::now;
};
