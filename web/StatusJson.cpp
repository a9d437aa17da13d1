#include "web/StatusJson.h"

#include <cstdio>

#include "link/EndpointHealth.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "runtime/SlaveHealth.h"

namespace web {

namespace {

// Members joined into an object or array.
class List {
 public:
  explicit List(char open) : m_text(1, open) {}
  List& Add(const std::string& item) {
    m_text += (m_text.size() > 1 ? "," : "") + item;
    return *this;
  }
  List& Add(const std::string& name, const std::string& value) {
    return Add(StatusJson::Quoted(name) + ":" + value);
  }
  std::string Close(char close) const { return m_text + close; }

 private:
  std::string m_text;
};

std::string Bool(bool b) { return b ? "true" : "false"; }
std::string Num(int64_t n) { return std::to_string(n); }

std::string Endpoint(const EndpointHealth& h) {
  List demoted('[');
  for (uint8_t slave : h.demoted) demoted.Add(Num(slave));
  List o('{');
  o.Add("name", StatusJson::Quoted(h.name))
      .Add("state", StatusJson::Quoted(h.StateText()))
      .Add("up", Bool(h.connected && !h.deviceLost))
      .Add("demotedSlaves", demoted.Close(']'));
  if (h.counted) {
    o.Add("requests", Num(h.counters.requests))
        .Add("responses", Num(h.counters.answers))
        .Add("timeouts", Num(h.counters.timeouts))
        .Add("checksumErrors", Num(h.counters.checksumErrors))
        .Add("mismatches", Num(h.counters.invalidResponses));
  }
  return o.Close('}');
}

std::string Slave(const SlaveHealth& s) {
  return List('{')
      .Add("endpoint", StatusJson::Quoted(s.endpoint))
      .Add("slave", Num(s.slave))
      .Add("demoted", Bool(s.demoted))
      .Add("requests", Num(s.requests))
      .Add("responses", Num(s.counters.responses))
      .Add("timeouts", Num(s.counters.timeouts))
      .Add("exceptions", Num(s.counters.exceptions))
      .Close('}');
}

std::string Tags(const CPelmoranDoc& doc, bool ok) {
  List tags('[');
  for (int i = 0; i < doc.GetTagCount(); ++i) {
    std::string value, type, low, high;
    doc.FormatLastGood(i, value, type, low, high);
    tags.Add(List('{')
                 .Add("name", StatusJson::Quoted(doc.GetTagName(i)))
                 .Add("value", StatusJson::Quoted(value))
                 .Add("quality", StatusJson::Quoted(ok ? "Good" : "Bad"))
                 .Close('}'));
  }
  return tags.Close(']');
}

std::string Scan(const CPelmoranDoc& doc, bool withTags) {
  const bool ok = doc.m_scan.Status() == ScanStatus::Ok;
  List scan('{');
  if (withTags)
    scan.Add("pollFrequency", Num(doc.m_scan.m_nPollFrequency)).Add("tags", Tags(doc, ok));
  return scan
      .Add("key", Num(doc.m_nKey))
      .Add("endpoint", StatusJson::Quoted(doc.m_strEndpoint))
      .Add("file", StatusJson::Quoted(doc.m_strPathName))
      .Add("status", Num(doc.m_scan.m_nStatus))
      .Add("statusText", StatusJson::Quoted(ok ? "OK" : doc.m_scan.GetStatusText()))
      .Add("polls", Num(doc.m_nNumbrPolls))
      .Close('}');
}

}  // namespace

std::string StatusJson::Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string StatusJson::Of(Runtime& runtime, const ProgramFigures& figures, bool withTags) {
  List endpoints('[');
  for (const std::string& name : runtime.m_endpoints.GetEndpointNames())
    if (const CModbusConnection* endpoint = runtime.m_endpoints.FindEndpoint(name))
      endpoints.Add(Endpoint(EndpointHealth::Of(*endpoint)));
  List slaves('[');
  for (const SlaveHealth& slave : SlaveHealth::Of(runtime)) slaves.Add(Slave(slave));
  List scans('[');
  for (int i = 0; i < runtime.GetDocumentCount(); ++i)
    scans.Add(Scan(*runtime.m_docTemplate.GetDocument(i), withTags));
  List mqtt('{');
  mqtt.Add("enabled", Bool(figures.mqttEnabled))
      .Add("connected", Bool(figures.mqtt && figures.mqtt->connected));
  if (figures.mqtt) mqtt.Add("spooledChanges", Num(static_cast<int64_t>(figures.mqtt->spooled)));
  return List('{')
      .Add("endpoints", endpoints.Close(']'))
      .Add("slaves", slaves.Close(']'))
      .Add("scans", scans.Close(']'))
      .Add("mqtt", mqtt.Close('}'))
      .Close('}');
}

}  // namespace web
