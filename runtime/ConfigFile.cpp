#include "runtime/ConfigFile.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "pointdb/Archive.h"
#include "pointdb/DiskFile.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/SaveSet.h"
#include "runtime/MapFile.h"
#include "runtime/Runtime.h"

namespace {

constexpr uint16_t kFormatMarker = 3;
// The endpoints' settings beyond their 52-byte records follow the scan list,
// where a reader that does not know them stops reading.
constexpr uint16_t kExtensionMarker = 1;
// After the extension, only where a line is shared: a block of its own, so
// that a reader that knows only the extension passes over it.
constexpr uint16_t kSharedLineMarker = 2;
constexpr size_t kMinSharedLineBytes = 1 + 3 * 4;
// A one-byte host length prefix and five int32.
constexpr size_t kMinExtensionBytes = 1 + 5 * 4;
// The least an endpoint record or a file name can take: the fixed items and
// a one-byte length prefix.
constexpr size_t kMinEndpointBytes = 1 + 52;
constexpr size_t kMinTextBytes = 1;
const std::string kDefaultFileName = "pelmoran.tst";

// What a configuration file holds, read to its end before any of it is used.
// A file of another format holds no endpoints and no scans.
struct ConfigRecord {
  std::vector<std::unique_ptr<CModbusConnection>> endpoints;  // not connected
  std::vector<std::string> scanPaths;
};

bool IsDefaultFile(const std::string& path) {
  return path.size() >= kDefaultFileName.size() &&
         path.compare(path.size() - kDefaultFileName.size(), kDefaultFileName.size(),
                      kDefaultFileName) == 0;
}

void StoreEndpoint(Archive& ar, const CModbusConnection& endpoint) {
  const int32_t connected = endpoint.IsConnected() ? 1 : 0;
  const int32_t tcp = endpoint.m_bTcp ? 1 : 0;
  ar << endpoint.m_strName << connected << endpoint.m_nProtocol << endpoint.m_nTimeout
     << endpoint.m_nPort << tcp;
  ar.Write(endpoint.m_ipAddress.data(), endpoint.m_ipAddress.size());
  ar.Write(&endpoint.m_serial, sizeof endpoint.m_serial);
}

// Whether the endpoint was connected when the file was written says nothing
// about now: every endpoint read is connected anew.
std::unique_ptr<CModbusConnection> LoadEndpoint(Archive& ar) {
  auto endpoint = std::make_unique<CModbusConnection>();
  int32_t connected;
  int32_t tcp;
  ar >> endpoint->m_strName >> connected >> endpoint->m_nProtocol >> endpoint->m_nTimeout >>
      endpoint->m_nPort >> tcp;
  endpoint->m_bTcp = tcp != 0;
  ar.Read(endpoint->m_ipAddress.data(), endpoint->m_ipAddress.size());
  ar.Read(&endpoint->m_serial, sizeof endpoint->m_serial);
  return endpoint;
}

void StoreExtension(Archive& ar, const CModbusConnection& e) {
  ar << e.m_strHost << static_cast<int32_t>(e.m_nPauseMs) << static_cast<int32_t>(e.m_nRetries)
     << static_cast<int32_t>(e.m_nRs485Mode) << static_cast<int32_t>(e.m_nRs485BeforeMs)
     << static_cast<int32_t>(e.m_nRs485AfterMs);
}

void LoadExtension(Archive& ar, CModbusConnection& e) {
  int32_t pause, retries, mode, before, after;
  ar >> e.m_strHost >> pause >> retries >> mode >> before >> after;
  e.m_nPauseMs = pause;
  e.m_nRetries = retries;
  e.m_nRs485Mode = mode;
  e.m_nRs485BeforeMs = before;
  e.m_nRs485AfterMs = after;
}

void StoreSharedLine(Archive& ar, const CModbusConnection& e) {
  ar << e.m_strShareBind << static_cast<int32_t>(e.m_nSharePort)
     << static_cast<int32_t>(e.m_nShareClients) << static_cast<int32_t>(e.m_nShareQueued);
}

void LoadSharedLine(Archive& ar, CModbusConnection& e) {
  int32_t port, clients, queued;
  ar >> e.m_strShareBind >> port >> clients >> queued;
  e.m_nSharePort = port;
  e.m_nShareClients = clients;
  e.m_nShareQueued = queued;
}

void ReadSharedLines(Archive& ar, ConfigRecord& config) {
  if (ar.GetRemaining() == 0) return;
  uint16_t marker;
  ar >> marker;
  if (marker != kSharedLineMarker) return;
  const int32_t count = ar.ReadCount(kMinSharedLineBytes);
  if (static_cast<size_t>(count) != config.endpoints.size()) return;
  for (auto& endpoint : config.endpoints) LoadSharedLine(ar, *endpoint);
}

// An extension of another marker, or for another number of endpoints, is
// not this program's to read: it is passed over.
void ReadExtensions(Archive& ar, ConfigRecord& config) {
  if (ar.GetRemaining() == 0) return;
  uint16_t marker;
  ar >> marker;
  if (marker != kExtensionMarker) return;
  const int32_t count = ar.ReadCount(kMinExtensionBytes);
  if (static_cast<size_t>(count) != config.endpoints.size()) return;
  for (auto& endpoint : config.endpoints) LoadExtension(ar, *endpoint);
  ReadSharedLines(ar, config);
}

ConfigRecord ReadConfig(Archive& ar) {
  ConfigRecord config;
  uint16_t marker;
  ar >> marker;
  if (marker != kFormatMarker) return config;
  config.endpoints.resize(static_cast<size_t>(ar.ReadCount(kMinEndpointBytes)));
  for (auto& endpoint : config.endpoints) endpoint = LoadEndpoint(ar);
  config.scanPaths.resize(static_cast<size_t>(ar.ReadCount(kMinTextBytes)));
  for (auto& path : config.scanPaths) ar >> path;
  ReadExtensions(ar, config);
  return config;
}

// Endpoints are connected as they join, before any scan that polls them
// opens. A scan file that cannot be opened is skipped, and why is added to
// messages.
void ApplyConfig(Runtime& runtime, ConfigRecord& config, bool connect,
                 std::vector<std::string>& messages) {
  runtime.m_endpoints.RemoveAllEndpoints();
  runtime.CloseAllDocuments();
  for (auto& endpoint : config.endpoints) {
    CModbusConnection* joined = runtime.m_endpoints.Adopt(std::move(endpoint));
    if (connect) runtime.m_endpoints.Connect(*joined);
  }
  for (const auto& path : config.scanPaths) {
    if (path.empty()) continue;
    std::string message;
    runtime.m_docTemplate.OpenDocumentFile(path, &message);
    if (!message.empty()) messages.push_back(message);
  }
}

}  // namespace

ConfigFile::ConfigFile(Runtime& runtime, bool connect) : m_runtime(runtime), m_bConnect(connect) {}

// The new content is complete in memory before it is written, and nothing
// replaces an old file before every new one is on the disk.
bool ConfigFile::SaveTestConfig(const std::string& path) {
  m_messages.clear();
  // A configuration file that cannot be made saves no scan either.
  DiskFile file;
  if (!file.Create(path)) {
    m_messages.push_back("File Creation Error");
    return false;
  }
  SaveSet set(SaveSet::JournalOf(path));
  Archive ar;
  ar.m_strFileName = path;
  Store(ar, &set);
  std::string error;
  if (!MapFile::Stage(set, MapFile::DevicesPathOf(path), MapFile::MapsPathOf(path),
                      m_runtime.m_deviceMaps.All(), error) ||
      !set.Stage(file, ar.GetBuffer(), error) || !set.Commit(error)) {
    m_messages.push_back("File Creation Error");
    return false;
  }
  return true;
}

void ConfigFile::RestoreConfig(const std::string& path) {
  m_messages.clear();
  SaveSet::Recover(SaveSet::JournalOf(path));
  std::string bytes;
  std::string error;
  switch (DiskFile::ReadAll(path, bytes, error)) {
    case DiskFile::ReadResult::ok: break;
    case DiskFile::ReadResult::cannotOpen:
      if (!IsDefaultFile(path)) m_messages.push_back("File Open Error - " + path);
      return;
    case DiskFile::ReadResult::cannotRead:
      // Unlike a missing file this is damage, reported whatever the name.
      m_messages.push_back("The configuration file " + path + " was not read: " + error + ".");
      return;
  }
  // The maps are read first: a damaged map file refuses the whole restore.
  std::vector<DeviceMap> maps;
  if (!MapFile::Load(MapFile::DevicesPathOf(path), MapFile::MapsPathOf(path), maps, error)) {
    m_messages.push_back("The configuration file " + path + " was not restored: " + error +
                         ". The running configuration stays.");
    return;
  }
  Archive ar(bytes);
  ar.m_strFileName = path;
  try {
    Load(ar);
    m_runtime.m_deviceMaps.ReplaceAll(std::move(maps));
    RemoveLeftovers(path);
  } catch (const ArchiveException& e) {
    m_messages.push_back("The configuration file " + path + " was not restored: " + e.what() +
                         ". The running configuration stays.");
  }
}

// Only once the file has been read are the directories of its scans known.
void ConfigFile::RemoveLeftovers(const std::string& path) const {
  std::vector<std::string> paths{path};
  for (int i = 0; i < m_runtime.GetDocumentCount(); ++i)
    paths.push_back(m_runtime.m_docTemplate.GetDocument(i)->m_strPathName);
  SaveSet::RemoveLeftovers(paths);
}

void ConfigFile::Store(Archive& ar, SaveSet* set) {
  const auto& endpoints = m_runtime.m_endpoints.m_endpoints;
  ar << kFormatMarker << static_cast<int32_t>(endpoints.size());
  for (const auto& endpoint : endpoints) StoreEndpoint(ar, *endpoint);
  ar << static_cast<int32_t>(m_runtime.GetDocumentCount());
  m_runtime.SaveAllDocuments(ar, set, m_messages);
  // Only when needed, so that a configuration without them stays byte for
  // byte what it always was.
  const bool extended = std::any_of(endpoints.begin(), endpoints.end(),
                                    [](const auto& e) { return e->HasExtendedSettings(); });
  if (!extended) return;
  ar << kExtensionMarker << static_cast<int32_t>(endpoints.size());
  for (const auto& endpoint : endpoints) StoreExtension(ar, *endpoint);
  const bool shared = std::any_of(endpoints.begin(), endpoints.end(),
                                  [](const auto& e) { return e->HasSharedLine(); });
  if (!shared) return;
  ar << kSharedLineMarker << static_cast<int32_t>(endpoints.size());
  for (const auto& endpoint : endpoints) StoreSharedLine(ar, *endpoint);
}

// Nothing running is touched until the whole file has been read: a file
// damaged anywhere throws while the running configuration is still whole.
void ConfigFile::Load(Archive& ar) {
  ConfigRecord config = ReadConfig(ar);
  ApplyConfig(m_runtime, config, m_bConnect, m_messages);
}
