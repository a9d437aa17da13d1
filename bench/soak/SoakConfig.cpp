#include "SoakConfig.h"

#include <cstdio>

#include "DemoConfig.h"
#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"

namespace soak {
namespace {

// The cycled slave's scans: generated words, and memory the client writes.
constexpr const char* kCycledScans[] = {"demo-holding.scn", "demo-memory.scn", "demo-coils.scn"};

void addEndpoint(EndpointRegistry& registry, const SoakEndpoint& endpoint) {
  EndpointChoice choice = registry.ProposeEndpoint();
  choice.strName = endpoint.name;
  choice.nCommPort = 0;
  choice.strIpAddress = endpoint.host;
  choice.nTcpPort = endpoint.port;
  registry.AddEndpoint(choice);
}

void addScan(Runtime& app, const std::string& path, const std::string& endpoint,
             const DemoScan& scan) {
  CModbusMsg definition;
  definition.m_nPointType = static_cast<uint8_t>(scan.nPointType);
  definition.m_nPointAddress = static_cast<uint16_t>(scan.nPointAddress);
  definition.m_nScanLength = static_cast<uint16_t>(scan.nScanLength);
  definition.m_nPollFrequency = scan.nPollFrequency;
  app.m_nDefaultDataType = scan.tags.front().nDataType;
  app.CreateScan(definition, endpoint);
  CPelmoranDoc* doc = app.m_docTemplate.GetDocument(app.GetDocumentCount() - 1);
  for (int i = 0; i < doc->GetTagCount(); ++i) {
    const DemoTag& wanted = scan.tags[static_cast<size_t>(i) % scan.tags.size()];
    doc->GetTag(i)->m_nDataType = wanted.nDataType;
    doc->GetTag(i)->m_fLowLimit = wanted.fLow;
    doc->GetTag(i)->m_fHighLimit = wanted.fHigh;
  }
  doc->m_strPathName = path;
}

bool isCycledScan(const std::string& file) {
  for (const char* name : kCycledScans) {
    if (file == name) return true;
  }
  return false;
}

}  // namespace

bool SoakConfig::write(const std::string& dir, const SoakEndpoint& steady,
                       const SoakEndpoint& cycled) {
  Runtime app;
  addEndpoint(app.m_endpoints, steady);
  addEndpoint(app.m_endpoints, cycled);
  for (const DemoScan& scan : DemoConfig::Scans()) {
    addScan(app, dir + "/steady-" + scan.strFile, steady.name, scan);
    if (isCycledScan(scan.strFile))
      addScan(app, dir + "/cycled-" + scan.strFile, cycled.name, scan);
  }
  ConfigFile file(app);
  const bool saved = file.SaveTestConfig(dir + "/pelmoran.tst");
  for (const std::string& text : file.Messages()) std::fprintf(stderr, "%s\n", text.c_str());
  return saved;
}

}  // namespace soak
