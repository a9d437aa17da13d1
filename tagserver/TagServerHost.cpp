#include "tagserver/TagServerHost.h"

#include <cstdlib>

#include "opcua/UaStatusCodes.h"
#include "platform/ConfigLocation.h"
#include "tagserver/EndpointSetting.h"
#include "tagserver/PkiStore.h"
#include "tagserver/ServerLog.h"
#include "tagserver/TcpListener.h"
#include "tagserver/UaServer.h"

namespace tagserver {

namespace {

constexpr const char* kEndpointVariable = "PELMORAN_OPCUA_ENDPOINT";
constexpr const char* kWriteBoundVariable = "PELMORAN_OPCUA_WRITE_TIMEOUT_MS";
constexpr const char* kProgId = "Korvane.Modbus_OPC_Server";
constexpr int kFastestRateMs = 10;

ServerInfo MakeInfo(int rateMs) {
  ServerInfo info;
  info.applicationUri = TagServerHost::ApplicationUri();
  info.productUri = "urn:pelmoran";
  info.productName = "pelmoran Modbus OPC UA server";
  info.manufacturer = "Korvane Software";
  info.softwareVersion = "3.04";
  info.folderName = kProgId;
  info.namespaceUri = "urn:pelmoran:tags";
  info.startTime = UaNow();
  info.minSamplingMs = rateMs < kFastestRateMs ? kFastestRateMs : rateMs;
  return info;
}

uint32_t StatusOfResult(int32_t result) {
  switch (result) {
    case S_OK: return UaStatus::Good;
    case DISP_E_TYPEMISMATCH: return UaStatus::BadTypeMismatch;
    case DISP_E_OVERFLOW: return UaStatus::BadOutOfRange;
    default: return UaStatus::BadInternalError;
  }
}

// How long a write waits for the program: a positive number of
// milliseconds from the environment, else the default.
std::chrono::milliseconds WriteBound() {
  const char* setting = std::getenv(kWriteBoundVariable);
  long ms = setting != nullptr ? std::strtol(setting, nullptr, 10) : 0;
  return ms > 0 ? std::chrono::milliseconds(ms) : HeldWrites::kDefaultBound;
}

}  // namespace

std::string TagServerHost::ApplicationUri() { return std::string("urn:pelmoran:") + kProgId; }

std::string TagServerHost::SecurityFolder(const char* directory) {
  std::string folder =
      directory != nullptr && directory[0] != '\0' ? directory : UserConfigDirectory();
  if (folder.back() != '/') folder += '/';
  return folder;
}

TagServerHost& TagServerHost::Instance() {
  static TagServerHost host;
  return host;
}

TagServerHost::~TagServerHost() {
  // The server thread itself cannot wait for its own end.
  if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) {
    m_thread.detach();
    return;
  }
  Stop();
}

int TagServerHost::Start(int rateMs) {
  std::lock_guard lock(m_mutex);
  if (m_server) return 0;
  EndpointSetting at;
  std::string error;
  const char* setting = std::getenv(kEndpointVariable);
  if (setting != nullptr && setting[0] != '\0' && !ParseEndpointSetting(setting, at, error)) {
    ServerLog::write(OPC_LOG_ERROR, std::string(kEndpointVariable) + "=" + setting, error);
    return -1;
  }
  auto io = std::make_unique<asio::io_context>(1);
  auto server = std::make_unique<UaServer>(*io, m_tags, MakeInfo(rateMs));
  auto listener = std::make_unique<TcpListener>(*io, *server);
  asio::error_code ec;
  asio::ip::tcp::endpoint endpoint(asio::ip::make_address(at.host, ec), at.port);
  if (!listener->Open(endpoint, error)) {
    ServerLog::write(
        OPC_LOG_ERROR, "",
        "OPC UA server cannot listen on " + at.host + ":" + std::to_string(at.port) + ": " + error);
    return -1;
  }
  m_strUrl = EndpointUrl(at, listener->Port());
  server->SetEndpointUrl(m_strUrl);
  SecureServer(*server, ApplicationUri(), endpoint.address().is_loopback());
  server->SetWriteHandler([this](int32_t handle, VARIANT& value, OPCWriteToken token) {
    return HandleWrite(handle, value, token);
  });
  server->PendingWrites().SetBound(WriteBound());
  asio::io_context* ioPtr = io.get();
  UaServer* serverPtr = server.get();
  m_tags.SetChangeNotifier(
      [ioPtr, serverPtr] { asio::post(*ioPtr, [serverPtr] { serverPtr->OnTagChanges(); }); });
  m_io = std::move(io);
  m_server = std::move(server);
  m_listener = std::move(listener);
  m_thread = std::thread([ioPtr] { ioPtr->run(); });
  return 0;
}

void TagServerHost::SetSecurity(const OPCSecuritySettings& settings) {
  std::lock_guard lock(m_mutex);
  m_strSecurityDirectory = settings.directory != nullptr ? settings.directory : "";
  m_bAllowNoneOnNetwork = settings.allowNoneOnNetwork != 0;
  m_nAnonymous = settings.anonymous;
}

void TagServerHost::SecureServer(UaServer& server, const std::string& applicationUri,
                                 bool loopback) {
  const std::string directory = SecurityFolder(m_strSecurityDirectory.c_str());
  EndpointSecurity settings;
  settings.offerNone = loopback || m_bAllowNoneOnNetwork;
  settings.offerSecure = true;
  switch (m_nAnonymous) {
    case OPC_ANONYMOUS_OFF: settings.anonymous = AnonymousAccess::Off; break;
    case OPC_ANONYMOUS_READ_ONLY: settings.anonymous = AnonymousAccess::ReadOnly; break;
    case OPC_ANONYMOUS_READ_WRITE: settings.anonymous = AnonymousAccess::ReadWrite; break;
    default:
      settings.anonymous = loopback ? AnonymousAccess::ReadWrite : AnonymousAccess::ReadOnly;
      break;
  }
  auto pki = std::make_shared<PkiStore>(directory + "pki/");
  std::string error;
  if (!pki->LoadOrCreateOwn(applicationUri, error)) {
    // Without its certificate the server still serves what policy None allows.
    ServerLog::write(OPC_LOG_WARNING, "",
                     "OPC UA server has no certificate, secured endpoints are off: " + error);
    pki.reset();
  }
  server.SetSecurity(settings, std::move(pki),
                     std::make_shared<UserDirectory>(directory + UserDirectory::kFileName));
}

void TagServerHost::Stop() {
  std::lock_guard lock(m_mutex);
  if (!m_server) return;
  m_tags.SetChangeNotifier(nullptr);
  asio::post(*m_io, [this] { m_listener->Stop(); });
  // Let the listener close its links, then end the loop.
  asio::post(*m_io, [this] { m_io->stop(); });
  m_thread.join();
  m_listener.reset();
  m_server.reset();
  m_io.reset();
  m_strUrl.clear();
}

const char* TagServerHost::Url() { return m_strUrl.c_str(); }

int TagServerHost::ClientCount() {
  std::lock_guard lock(m_mutex);
  return m_listener ? m_listener->OpenLinks() : 0;
}

void TagServerHost::SetWriteCallback(OPCWriteCallback callback, bool enable) {
  m_callback.store(enable ? callback : nullptr);
}

void TagServerHost::SetAsyncWriteCallback(OPCAsyncWriteCallback callback, bool enable) {
  m_asyncCallback.store(enable ? callback : nullptr);
}

int TagServerHost::CompleteWrite(OPCWriteToken token, uint32_t status) {
  std::lock_guard lock(m_mutex);
  if (!m_server) return -1;
  UaServer* server = m_server.get();
  asio::post(*m_io, [server, token, status] { server->PendingWrites().Complete(token, status); });
  return 0;
}

uint32_t TagServerHost::HandleWrite(int32_t handle, VARIANT& value, OPCWriteToken token) {
  if (OPCAsyncWriteCallback later = m_asyncCallback.load()) {
    later(handle, &value, token);
    return UaStatus::GoodCompletesAsynchronously;
  }
  OPCWriteCallback callback = m_callback.load();
  if (callback == nullptr) return UaStatus::BadNotWritable;
  int32_t result = 0;
  callback(handle, &value, &result);
  return StatusOfResult(result);
}

}  // namespace tagserver
