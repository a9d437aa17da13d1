// The application's side of the scans: the pending definition that the next
// document copies, the default register configuration, the document keys and
// the template. The shell's application object derives from it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Variant.h"
#include "pointdb/ModbusMsg.h"

class CArchive;
class CDocTemplate;
class CEndpointRegistry;
class CPelmoranDoc;

class CScanHost {
 public:
  // The host made last is the application that TheApp() answers with.
  CScanHost();
  // Deletes the document template (and with it every open document).
  virtual ~CScanHost();

  // Stores the definition as pending and runs File New.
  void CreateScan(const CModbusMsg& definition, const std::string& endpoint);
  CPelmoranDoc* OnFileNew();
  CPelmoranDoc* FindDocumentByKey(int key) const;
  int GetDocumentCount() const;
  void CloseAllDocuments();
  // Offers a client write to every document in order until one owns the tag.
  void OfferClientWrite(int32_t hTag, VARIANT* value);
  // Saves every open document to its file (asking for a name where it has
  // none) and writes the file names to the configuration archive.
  void SaveAllDocuments(CArchive& ar);

  CEndpointRegistry* m_pMainFrame = nullptr;
  int m_nDocKeyCounter = 1;
  CDocTemplate* m_pDocTemplate = nullptr;  // owned
  CModbusMsg m_pendingScan;
  std::string m_strPendingEndpoint;
  int m_nDefaultDataType = 0;
  float m_fDefaultLowLimit = 0.0f;
  float m_fDefaultHighLimit = 100.0f;
  std::string m_strDefaultDelimiter = ".";
};

// The one application object; documents, endpoints and callbacks reach it here.
CScanHost& TheApp();
void SetTheApp(CScanHost* app);
