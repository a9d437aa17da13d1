#include "pointdb/ConfigFile.h"

#include <memory>

#include "link/EndpointRegistry.h"
#include "platform/MessageBox.h"
#include "pointdb/Archive.h"
#include "pointdb/DiskFile.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/ScanHost.h"

namespace {

constexpr uint16_t kFormatMarker = 3;
const std::string kDefaultFileName = "pelmoran.tst";

bool IsDefaultFile(const std::string& path) {
  return path.size() >= kDefaultFileName.size() &&
         path.compare(path.size() - kDefaultFileName.size(), kDefaultFileName.size(),
                      kDefaultFileName) == 0;
}

void StoreEndpoint(CArchive& ar, const CModbusConnection& endpoint) {
  const int32_t connected = endpoint.IsConnected() ? 1 : 0;
  ar << endpoint.m_strName << connected << endpoint.m_nProtocol << endpoint.m_nTimeout
     << endpoint.m_nPort << endpoint.m_bTcp;
  ar.Write(endpoint.m_ipAddress.data(), endpoint.m_ipAddress.size());
  ar.Write(&endpoint.m_serial, sizeof endpoint.m_serial);
}

// Whether the endpoint was connected when the file was written says nothing
// about now: every endpoint read is connected anew.
std::unique_ptr<CModbusConnection> LoadEndpoint(CArchive& ar) {
  auto endpoint = std::make_unique<CModbusConnection>();
  int32_t connected;
  ar >> endpoint->m_strName >> connected >> endpoint->m_nProtocol >> endpoint->m_nTimeout >>
      endpoint->m_nPort >> endpoint->m_bTcp;
  ar.Read(endpoint->m_ipAddress.data(), endpoint->m_ipAddress.size());
  ar.Read(&endpoint->m_serial, sizeof endpoint->m_serial);
  return endpoint;
}

}  // namespace

CConfigFile::CConfigFile(CEndpointRegistry& frame, CScanHost& app) : m_frame(frame), m_app(app) {}

// The new content is complete in memory before it replaces the old file, so
// a failure at any point leaves the previous configuration whole.
bool CConfigFile::SaveTestConfig(const std::string& path) {
  CDiskFile file;
  if (!file.Create(path)) {
    AfxMessageBox("File Creation Error");
    return false;
  }
  CArchive ar;
  ar.m_strFileName = path;
  Store(ar);
  if (!file.Commit(ar.GetBuffer())) {
    AfxMessageBox("File Creation Error");
    return false;
  }
  return true;
}

void CConfigFile::RestoreConfig(const std::string& path) {
  std::string bytes;
  std::string error;
  switch (CDiskFile::ReadAll(path, bytes, error)) {
    case CDiskFile::ReadResult::ok: break;
    case CDiskFile::ReadResult::cannotOpen:
      if (!IsDefaultFile(path)) AfxMessageBox("File Open Error - " + path);
      return;
    case CDiskFile::ReadResult::cannotRead:
      // Unlike a missing file this is damage, reported whatever the name.
      AfxMessageBox("The configuration file " + path + " was not read: " + error + ".");
      return;
  }
  CArchive ar(bytes);
  ar.m_strFileName = path;
  try {
    Load(ar);
  } catch (const CArchiveException& e) {
    AfxMessageBox("The configuration file " + path + " was read only in part: " + e.what() + ".");
  }
}

void CConfigFile::Store(CArchive& ar) {
  ar << kFormatMarker << static_cast<int32_t>(m_frame.m_endpoints.size());
  for (const auto& endpoint : m_frame.m_endpoints) StoreEndpoint(ar, *endpoint);
  ar << static_cast<int32_t>(m_app.GetDocumentCount());
  m_app.SaveAllDocuments(ar);
}

// Once the marker is read the running configuration goes, whatever follows.
void CConfigFile::Load(CArchive& ar) {
  uint16_t marker;
  ar >> marker;
  m_frame.RemoveAllEndpoints();
  m_app.CloseAllDocuments();
  if (marker != kFormatMarker) return;
  LoadEndpoints(ar);
  LoadScans(ar);
}

// Items are read one by one, so a count that claims more than the file holds
// keeps what was read before the end.
void CConfigFile::LoadEndpoints(CArchive& ar) {
  const int32_t count = ar.ReadCount(0);
  for (int32_t i = 0; i < count; ++i) {
    m_frame.m_endpoints.push_back(LoadEndpoint(ar));
    CModbusConnection& endpoint = *m_frame.m_endpoints.back();
    if (endpoint.m_bTcp != 0) {
      endpoint.ConnectTcp();
    } else {
      endpoint.ConnectSerial();
    }
  }
}

// A scan file that cannot be opened is reported by the template and skipped.
void CConfigFile::LoadScans(CArchive& ar) {
  const int32_t count = ar.ReadCount(0);
  for (int32_t i = 0; i < count; ++i) {
    std::string path;
    ar >> path;
    if (!path.empty()) m_app.m_pDocTemplate->OpenDocumentFile(path);
  }
}
