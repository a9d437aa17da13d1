// The one owner of the program's state, plain C++: the endpoint registry,
// the document template with the open scans, the document keys and the
// defaults. It wires the parts together: documents reach their endpoints
// through the registry, endpoints hand finished requests straight back to the
// scan that sent them (here only when that scan has been closed), and client
// writes go to the scan that owns the tag. The window program and the
// headless program hold one each; so do tests and tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/EndpointRegistry.h"
#include "platform/Variant.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/RequestSink.h"
#include "pointdb/ScanContext.h"
#include "runtime/DeviceMaps.h"
#include "runtime/DevicePoller.h"

class Archive;
class SaveSet;
class CPelmoranDoc;

class Runtime : public ScanContext, public IRequestSink {
 public:
  explicit Runtime(IViewFactory* views = nullptr);
  // Endpoints first (what they hand back finds its scans), then the scans.
  ~Runtime() override;
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // Stores the definition as pending and runs File New.
  void CreateScan(const CModbusMsg& definition, const std::string& endpoint);
  CPelmoranDoc* OnFileNew();
  // A scan edited while it runs: a scan made from definition on endpoint,
  // with doc's title and file, takes its place, and doc is closed (its tags
  // withdrawn, the new ones published).
  CPelmoranDoc* RedefineScan(CPelmoranDoc& doc, const CModbusMsg& definition,
                             const std::string& endpoint);
  CPelmoranDoc* FindDocumentByKey(int key) const;
  int GetDocumentCount() const;
  void CloseAllDocuments();
  // Hands a client write to the document that owns the tag.
  void OfferClientWrite(int32_t hTag, VARIANT* value);
  // The same, answering its client through the token; a tag that no scan
  // owns any more is answered at once.
  void OfferClientWrite(int32_t hTag, VARIANT* value, uint64_t token);
  // Saves every open document to its file (asking for a name where it has
  // none) and writes the file names to the configuration archive; with a
  // save set, the files are put in place when the set commits. Why a file
  // was not saved is added to messages, for the operator.
  void SaveAllDocuments(Archive& ar, SaveSet* set, std::vector<std::string>& messages);

  // A finished request whose scan has been closed meanwhile: its clients are
  // answered and it is deleted.
  void OnRequestDone(CModbusMsg* request) override;

  EndpointRegistry m_endpoints;
  DocTemplate m_docTemplate;
  // The register maps of the slave devices that have one.
  DeviceMaps m_deviceMaps;
  // Polls the devices that have a map, and publishes their tags.
  DevicePoller m_devicePoller{*this, m_deviceMaps};
};
