#include "runtime/Runtime.h"

#include "pointdb/ClientWrites.h"
#include "pointdb/PelmoranDoc.h"
#include "tagserver/tagserver.h"

Runtime::Runtime(IViewFactory* views) : m_endpoints(this), m_docTemplate(*this, views) {
  m_pLink = &m_endpoints;
  m_deviceMaps.SetListener([this](const std::string& endpoint, int32_t slave) {
    m_devicePoller.OnDeviceChanged(endpoint, slave);
  });
}

Runtime::~Runtime() {
  m_endpoints.RemoveAllEndpoints();
  CloseAllDocuments();
}

void Runtime::CreateScan(const CModbusMsg& definition, const std::string& endpoint) {
  m_pendingScan.Copy(definition);
  m_strPendingEndpoint = endpoint;
  OnFileNew();
}

CPelmoranDoc* Runtime::OnFileNew() { return m_docTemplate.OpenDocumentFile(""); }

CPelmoranDoc* Runtime::RedefineScan(CPelmoranDoc& doc, const CModbusMsg& definition,
                                    const std::string& endpoint) {
  m_pendingScan.Copy(definition);
  m_strPendingEndpoint = endpoint;
  CPelmoranDoc* made = OnFileNew();
  made->m_strTitle = doc.m_strTitle;
  made->m_strPathName = doc.m_strPathName;
  m_docTemplate.CloseDocument(&doc);
  return made;
}

CPelmoranDoc* Runtime::FindDocumentByKey(int key) const {
  for (int i = 0; i < GetDocumentCount(); ++i) {
    CPelmoranDoc* doc = m_docTemplate.GetDocument(i);
    if (doc->m_nKey == key) return doc;
  }
  return nullptr;
}

int Runtime::GetDocumentCount() const { return m_docTemplate.GetDocumentCount(); }

// Scan documents are never marked modified, so every close goes ahead
// without asking.
void Runtime::CloseAllDocuments() {
  while (GetDocumentCount() > 0) m_docTemplate.CloseDocument(m_docTemplate.GetDocument(0));
}

void Runtime::OfferClientWrite(int32_t hTag, VARIANT* value) {
  OfferClientWrite(hTag, value, clientwrites::kNoToken);
}

void Runtime::OfferClientWrite(int32_t hTag, VARIANT* value, uint64_t token) {
  CPelmoranDoc* doc = m_tagOwners.Find(hTag);
  if (doc && doc->HandleClientWrite(hTag, value, token)) return;
  if (m_devicePoller.HandleClientWrite(hTag, value, token)) return;
  clientwrites::Complete(m_pTagObserver, token, OPC_STATUS_BAD_NODE_ID_UNKNOWN);
}

void Runtime::OnRequestDone(CModbusMsg* request) {
  // The scan was closed while its write was out: the device still answered.
  clientwrites::CompleteAll(m_pTagObserver, *request);
  delete request;
}
