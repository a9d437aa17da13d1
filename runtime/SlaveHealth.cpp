#include "runtime/SlaveHealth.h"

#include <map>
#include <utility>

#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"

std::vector<SlaveHealth> SlaveHealth::Of(Runtime& runtime) {
  std::map<std::pair<std::string, uint8_t>, SlaveHealth> slaves;
  for (int i = 0; i < runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = runtime.m_docTemplate.GetDocument(i);
    SlaveHealth& slave = slaves[{doc->m_strEndpoint, doc->m_scan.m_nSlaveNode}];
    slave.endpoint = doc->m_strEndpoint;
    slave.slave = doc->m_scan.m_nSlaveNode;
    slave.requests += static_cast<uint32_t>(doc->m_nNumbrPolls);
    slave.counters.Add(doc->m_counters);
  }
  std::vector<SlaveHealth> out;
  for (auto& [key, slave] : slaves) {
    const CModbusConnection* endpoint = runtime.m_endpoints.FindEndpoint(slave.endpoint);
    slave.demoted = endpoint != nullptr && endpoint->m_demotion.IsDemoted(slave.slave);
    out.push_back(std::move(slave));
  }
  return out;
}
