#include "pointdb/ScanHost.h"

#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"

namespace {

CScanHost* g_app = nullptr;

}  // namespace

CScanHost& TheApp() {
  // Before the program's application object exists (and in tests that need
  // none) the defaults of a plain host stand in.
  if (g_app) return *g_app;
  static CScanHost fallback;
  return fallback;
}

void SetTheApp(CScanHost* app) { g_app = app; }

CScanHost::CScanHost() { SetTheApp(this); }

CScanHost::~CScanHost() {
  delete m_pDocTemplate;
  m_pDocTemplate = nullptr;
  if (g_app == this) g_app = nullptr;
}

void CScanHost::CreateScan(const CModbusMsg& definition, const std::string& endpoint) {
  m_pendingScan.Copy(definition);
  m_strPendingEndpoint = endpoint;
  OnFileNew();
}

CPelmoranDoc* CScanHost::OnFileNew() {
  return m_pDocTemplate ? m_pDocTemplate->OpenDocumentFile("") : nullptr;
}

CPelmoranDoc* CScanHost::FindDocumentByKey(int key) const {
  for (int i = 0; i < GetDocumentCount(); ++i) {
    CPelmoranDoc* doc = m_pDocTemplate->GetDocument(i);
    if (doc->m_nKey == key) return doc;
  }
  return nullptr;
}

int CScanHost::GetDocumentCount() const {
  return m_pDocTemplate ? m_pDocTemplate->GetDocumentCount() : 0;
}

// Scan documents are never marked modified, so every close goes ahead
// without asking.
void CScanHost::CloseAllDocuments() {
  while (GetDocumentCount() > 0) m_pDocTemplate->CloseDocument(m_pDocTemplate->GetDocument(0));
}

void CScanHost::OfferClientWrite(int32_t hTag, VARIANT* value) {
  for (int i = 0; i < GetDocumentCount(); ++i)
    if (m_pDocTemplate->GetDocument(i)->HandleClientWrite(hTag, value)) return;
}
