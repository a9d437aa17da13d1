#include "web/HealthCheck.h"

#include <set>

#include "link/EndpointHealth.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "runtime/SlaveHealth.h"

namespace web {

std::vector<std::string> HealthCheck::Reasons(Runtime& runtime, const ProgramFigures& figures) {
  std::vector<std::string> reasons;
  std::set<std::string> used;
  for (int i = 0; i < runtime.GetDocumentCount(); ++i)
    used.insert(runtime.m_docTemplate.GetDocument(i)->m_strEndpoint);
  for (const std::string& name : used) {
    const CModbusConnection* endpoint = runtime.m_endpoints.FindEndpoint(name);
    if (!endpoint) {
      reasons.push_back("endpoint " + name + ": not defined");
      continue;
    }
    const EndpointHealth health = EndpointHealth::Of(*endpoint);
    if (!health.connected || health.deviceLost)
      reasons.push_back("endpoint " + name + ": " + health.StateText());
  }
  for (const SlaveHealth& slave : SlaveHealth::Of(runtime))
    if (slave.demoted)
      reasons.push_back("endpoint " + slave.endpoint + " slave " + std::to_string(slave.slave) +
                        ": demoted");
  for (int i = 0; i < runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = runtime.m_docTemplate.GetDocument(i);
    if (doc->m_scan.Status() != ScanStatus::Ok)
      reasons.push_back("scan " + std::to_string(doc->m_nKey) + " on " + doc->m_strEndpoint +
                        ": " + doc->m_scan.GetStatusText());
  }
  if (figures.mqttEnabled && !(figures.mqtt && figures.mqtt->connected))
    reasons.push_back("MQTT: the broker is not connected");
  return reasons;
}

}  // namespace web
