#include "link/EndpointRegistry.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include "link/EndpointKind.h"
#include "link/EndpointObserver.h"
#include "link/ModbusBinding.h"

namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

std::string DottedAddress(const std::array<uint8_t, 4>& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

}  // namespace

void SetAddress(CModbusConnection& endpoint, const std::string& text) {
  // Text that is no dotted address is a host name; the address item then
  // holds one that nothing connects to.
  const uint32_t address = inet_addr(text.c_str());
  const bool name = address == kNoAddress && text != "255.255.255.255" && !text.empty() &&
                    text.find_first_of(" \t") == std::string::npos;
  endpoint.m_strHost = name ? text : "";
  std::memcpy(endpoint.m_ipAddress.data(), &address, sizeof address);
}

EndpointRegistry::EndpointRegistry(IRequestSink* sink) : m_pSink(sink) {}

EndpointRegistry::~EndpointRegistry() {
  StopListening();
  RemoveAllEndpoints();
}

CModbusConnection* EndpointRegistry::FindEndpoint(const std::string& name) const {
  for (const auto& endpoint : m_endpoints)
    if (endpoint->m_strName == name) return endpoint.get();
  return nullptr;
}

bool EndpointRegistry::IsEndpointConnected(const std::string& name) const {
  const CModbusConnection* endpoint = FindEndpoint(name);
  return endpoint && endpoint->IsLinkUp();
}

int EndpointRegistry::SendToEndpoint(const std::string& name, CModbusMsg* request) {
  CModbusConnection* endpoint = FindEndpoint(name);
  return endpoint ? endpoint->Enqueue(request) : 0;
}

void EndpointRegistry::CloseEndpoint(const std::string& name) {
  CModbusConnection* endpoint = FindEndpoint(name);
  // One silent unit behind a Modbus/TCP gateway is demoted, not a reason to
  // drop the others; when none answers, the connection itself is suspect.
  if (!endpoint || !endpoint->m_bTcp || endpoint->IsNetLine() ||
      !endpoint->m_demotion.AllSilent())
    return;
  endpoint->Close();
  endpoint->m_reconnect.Lost(m_now());
  ReportLink(*endpoint);
}

bool EndpointRegistry::HasDanielsRegisters(const std::string& name) const {
  const CModbusConnection* endpoint = FindEndpoint(name);
  return endpoint && EndpointKind::IsDaniels(endpoint->m_bTcp, endpoint->m_nProtocol);
}

bool EndpointRegistry::IsCommPortInUse(int comPort) const {
  for (const auto& endpoint : m_endpoints)
    if (!endpoint->m_bTcp && endpoint->m_nPort == comPort) return true;
  return false;
}

void EndpointRegistry::RouteModbusCallback(const ModbusAnswer& answer) {
  if (answer.handle == -1) return;  // -1 is "no connection" and names no endpoint
  for (const auto& endpoint : m_endpoints) {
    if (endpoint->m_hConnection != answer.handle) continue;
    endpoint->OnResponse(answer);
    return;
  }
}

void EndpointRegistry::ListenForAnswers(MainThreadPost post) {
  m_pListener = std::make_shared<EndpointRegistry*>(this);
  std::weak_ptr<EndpointRegistry*> listener = m_pListener;
  // Called on the library's thread: it only posts, and the answer is looked
  // at on the main thread, if the registry still listens by then.
  SetModbusCallbackDispatcher([listener, post = std::move(post)](ModbusAnswer answer) {
    auto route = [listener, answer = std::move(answer)] {
      if (std::shared_ptr<EndpointRegistry*> registry = listener.lock())
        (*registry)->RouteModbusCallback(answer);
    };
    if (post)
      post(std::move(route));
    else
      route();
  });
}

void EndpointRegistry::StopListening() {
  if (!m_pListener) return;
  m_pListener.reset();
  SetModbusCallbackDispatcher(nullptr);
}

void EndpointRegistry::OnConnectionEvent(int event, int handle) {
  if (handle == -1 || (event != MBS_EVENT_CONNECTED && event != MBS_EVENT_TERMINATED)) return;
  for (const auto& endpoint : m_endpoints) {
    if (!endpoint->m_bTcp || endpoint->IsNetLine()) {
      if (endpoint->m_hConnection != handle) continue;
      OnSerialDeviceEvent(*endpoint, event);
      return;
    }
    if (event == MBS_EVENT_CONNECTED && endpoint->m_hTcpConnection == handle) {
      endpoint->Attach();
      endpoint->m_reconnect.Connected();
      ReportLink(*endpoint);
      return;
    }
    if (event == MBS_EVENT_TERMINATED &&
        (endpoint->m_hConnection == handle || endpoint->m_hTcpConnection == handle)) {
      bool wasUp = endpoint->m_hConnection == handle;
      endpoint->Detach();
      if (wasUp)
        endpoint->m_reconnect.Lost(m_now());
      else
        endpoint->m_reconnect.Failed(m_now());
      ReportLink(*endpoint);
      return;
    }
  }
}

// The library keeps a serial connection (or a network line) while its device
// is away and opens it again when it returns; meanwhile the scans are told at once.
void EndpointRegistry::OnSerialDeviceEvent(CModbusConnection& endpoint, int event) {
  endpoint.m_bDeviceLost = event == MBS_EVENT_TERMINATED;
  if (endpoint.m_bDeviceLost) endpoint.ClearQueue();
  ReportLink(endpoint);
}

EndpointChoice EndpointRegistry::ProposeEndpoint() const {
  CModbusConnection fresh;
  EndpointChoice choice;
  choice.strName = "MODBUS" + std::to_string(m_endpoints.size() + 1);
  choice.strIpAddress = DottedAddress(fresh.m_ipAddress);
  choice.nTcpPort = fresh.m_nPort;
  choice.nCommPort = 0;
  choice.serial = fresh.m_serial;
  choice.nProtocol = fresh.m_nProtocol;
  choice.nTimeoutMs = fresh.m_nTimeout;
  return choice;
}

EndpointChoice ChoiceOf(const CModbusConnection& endpoint) {
  EndpointChoice choice;
  choice.strName = endpoint.m_strName;
  choice.nCommPort = endpoint.m_bTcp ? 0 : endpoint.m_nPort;
  choice.serial = endpoint.m_serial;
  choice.strIpAddress = endpoint.HostText();
  choice.nTcpPort = endpoint.m_bTcp ? endpoint.m_nPort : 502;
  choice.nProtocol = endpoint.m_nProtocol;
  choice.nPauseMs = endpoint.m_nPauseMs;
  choice.nRetries = endpoint.m_nRetries;
  choice.nRs485Mode = endpoint.m_nRs485Mode;
  choice.nRs485BeforeMs = endpoint.m_nRs485BeforeMs;
  choice.nRs485AfterMs = endpoint.m_nRs485AfterMs;
  choice.nSharePort = endpoint.m_nSharePort;
  choice.strShareBind = endpoint.m_strShareBind;
  choice.nShareClients = endpoint.m_nShareClients;
  choice.nShareQueued = endpoint.m_nShareQueued;
  choice.nTimeoutMs = endpoint.m_nTimeout;
  return choice;
}

CModbusConnection* EndpointRegistry::ReplaceEndpoint(int index, const EndpointChoice& choice) {
  if (index < 0 || static_cast<size_t>(index) >= m_endpoints.size()) return nullptr;
  RemoveEndpoint(index);
  CModbusConnection* made = AddEndpoint(choice);
  // Back where the old one stood: the list's order is the file's.
  std::rotate(m_endpoints.begin() + index, m_endpoints.end() - 1, m_endpoints.end());
  return made;
}

CModbusConnection* EndpointRegistry::AddEndpoint(const EndpointChoice& choice) {
  auto endpoint = std::make_unique<CModbusConnection>();
  Equip(*endpoint);
  endpoint->m_strName = choice.strName;
  endpoint->m_nTimeout = choice.nTimeoutMs;
  endpoint->m_nPauseMs = choice.nPauseMs;
  endpoint->m_nSharePort = choice.nSharePort;
  endpoint->m_strShareBind = choice.strShareBind;
  endpoint->m_nShareClients = choice.nShareClients;
  endpoint->m_nShareQueued = choice.nShareQueued;
  if (choice.nCommPort == 0) {
    endpoint->m_bTcp = true;
    endpoint->m_nPort = choice.nTcpPort;
    endpoint->m_nProtocol = choice.nProtocol;
    endpoint->m_nRetries = choice.nRetries;
    SetAddress(*endpoint, choice.strIpAddress);
    endpoint->Connect();
  } else {
    endpoint->m_bTcp = false;
    endpoint->m_nPort = choice.nCommPort;
    endpoint->m_serial = choice.serial;
    endpoint->m_nRs485Mode = choice.nRs485Mode;
    endpoint->m_nRs485BeforeMs = choice.nRs485BeforeMs;
    endpoint->m_nRs485AfterMs = choice.nRs485AfterMs;
    endpoint->ConnectSerial();
  }
  m_endpoints.push_back(std::move(endpoint));
  ReportLink(*m_endpoints.back());
  return m_endpoints.back().get();
}

CModbusConnection* EndpointRegistry::Adopt(std::unique_ptr<CModbusConnection> endpoint) {
  Equip(*endpoint);
  m_endpoints.push_back(std::move(endpoint));
  return m_endpoints.back().get();
}

void EndpointRegistry::Connect(CModbusConnection& endpoint) {
  endpoint.Connect();
  ReportLink(endpoint);
}

std::vector<std::string> EndpointRegistry::GetEndpointNames() const {
  std::vector<std::string> names;
  for (const auto& endpoint : m_endpoints) names.push_back(endpoint->m_strName);
  return names;
}

void EndpointRegistry::RemoveEndpoint(int index) {
  if (index < 0 || static_cast<size_t>(index) >= m_endpoints.size()) return;
  // Out of the list before it closes, so that the scans it hands its queue
  // back to already find it gone.
  std::unique_ptr<CModbusConnection> endpoint = std::move(m_endpoints[index]);
  m_endpoints.erase(m_endpoints.begin() + index);
  if (endpoint->IsConnected()) endpoint->Close();
  ReportLink(*endpoint);
}

void EndpointRegistry::RemoveAllEndpoints() {
  std::vector<std::unique_ptr<CModbusConnection>> endpoints;
  endpoints.swap(m_endpoints);
  for (auto& endpoint : endpoints) {
    if (endpoint->IsConnected()) endpoint->Close();
    ReportLink(*endpoint);
  }
}

// A network line is made again by the library itself.
void EndpointRegistry::ReconnectTcpEndpoints() {
  for (const auto& endpoint : m_endpoints)
    if (endpoint->m_bTcp && !endpoint->IsNetLine() && endpoint->m_hConnection == -1)
      Reconnect(*endpoint);
}

void EndpointRegistry::ReconnectDueEndpoints() {
  const LinkClock::time_point now = m_now();
  for (const auto& endpoint : m_endpoints)
    if (endpoint->m_bTcp && !endpoint->IsNetLine() && endpoint->m_hConnection == -1 &&
        endpoint->m_reconnect.IsDue(now))
      Reconnect(*endpoint);
}

void EndpointRegistry::Reconnect(CModbusConnection& endpoint) {
  endpoint.m_reconnect.Attempting();
  endpoint.ConnectTcp();
}

void EndpointRegistry::SetDemotionPolicy(const DemotionPolicy& policy) {
  m_demotionPolicy = policy;
  for (const auto& endpoint : m_endpoints) endpoint->m_demotion.SetPolicy(policy);
}

void EndpointRegistry::SetClock(LinkNow now) {
  m_now = std::move(now);
  for (const auto& endpoint : m_endpoints) endpoint->m_demotion.SetClock(m_now);
}

void EndpointRegistry::Equip(CModbusConnection& endpoint) const {
  endpoint.m_pSink = m_pSink;
  endpoint.m_demotion.SetPolicy(m_demotionPolicy);
  endpoint.m_demotion.SetClock(m_now);
}

void EndpointRegistry::ReportLink(CModbusConnection& endpoint) {
  const bool up = endpoint.IsLinkUp();
  if (up == endpoint.m_bReportedUp) return;
  endpoint.m_bReportedUp = up;
  if (m_pObserver) m_pObserver->OnEndpointLink(endpoint.m_strName, up);
}
