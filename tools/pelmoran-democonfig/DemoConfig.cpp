#include "DemoConfig.h"

#include <cstdio>

#include "link/EndpointRegistry.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"

namespace {

constexpr int kCoils = 1, kInputs = 2, kHolding = 3, kInputRegisters = 4;
constexpr int kUnsigned = 0, kInteger = 1, kScaled4095 = 2, kScaled9999 = 3;
constexpr int kFloat = 4, kFloatSwapped = 5, kLong = 6, kLongSwapped = 7;

std::vector<DemoTag> GeneratedWords() {
  return {{kUnsigned},
          {kUnsigned},
          {kScaled4095, 0.0f, 100.0f},
          {kScaled9999, -50.0f, 50.0f},
          {kInteger}};
}

void AddScan(Runtime& app, const std::string& dir, const std::string& endpoint,
             const DemoScan& scan) {
  CModbusMsg definition;
  definition.m_nPointType = static_cast<uint8_t>(scan.nPointType);
  definition.m_nPointAddress = static_cast<uint16_t>(scan.nPointAddress);
  definition.m_nScanLength = static_cast<uint16_t>(scan.nScanLength);
  definition.m_nPollFrequency = scan.nPollFrequency;
  // The first tag's type decides how many tags the scan gets.
  app.m_nDefaultDataType = scan.tags.front().nDataType;
  app.CreateScan(definition, endpoint);
  CPelmoranDoc* doc = app.m_docTemplate.GetDocument(app.GetDocumentCount() - 1);
  for (int i = 0; i < doc->GetTagCount(); ++i) {
    const DemoTag& wanted = scan.tags[static_cast<size_t>(i) % scan.tags.size()];
    CModbusTag* tag = doc->GetTag(i);
    tag->m_nDataType = wanted.nDataType;
    tag->m_fLowLimit = wanted.fLow;
    tag->m_fHighLimit = wanted.fHigh;
  }
  doc->m_strPathName = dir + "/" + scan.strFile;
}

}  // namespace

std::vector<DemoScan> DemoConfig::Scans() {
  return {
      {"demo-holding.scn", kHolding, 1, 5, 500, GeneratedWords()},
      {"demo-floats.scn", kHolding, 11, 4, 500, {{kFloat}, {kFloatSwapped}}},
      {"demo-longs.scn", kHolding, 15, 4, 500, {{kLong}, {kLongSwapped}}},
      {"demo-input-registers.scn", kInputRegisters, 1, 5, 1000, GeneratedWords()},
      {"demo-coils.scn", kCoils, 1, 16, 500, {{kUnsigned}}},
      {"demo-inputs.scn", kInputs, 1, 16, 500, {{kUnsigned}}},
      {"demo-memory.scn", kHolding, 21, 10, 1000, {{kUnsigned}}},
  };
}

bool DemoConfig::Write(const std::string& dir, const std::string& endpoint, const std::string& host,
                       int port) {
  Runtime app;
  EndpointRegistry& frame = app.m_endpoints;
  EndpointChoice choice = frame.ProposeEndpoint();
  choice.strName = endpoint;
  choice.nCommPort = 0;
  choice.strIpAddress = host;
  choice.nTcpPort = port;
  frame.AddEndpoint(choice);
  for (const DemoScan& scan : Scans()) AddScan(app, dir, endpoint, scan);
  ConfigFile file(app);
  const bool saved = file.SaveTestConfig(dir + "/pelmoran.tst");
  for (const std::string& text : file.Messages()) std::fprintf(stderr, "%s\n", text.c_str());
  return saved;
}
