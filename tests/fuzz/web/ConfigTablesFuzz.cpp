// A change's JSON body as a client sends it, merged into the configuration's
// tables: any bytes get a refusal with a reason or a merged row, never a
// crash, and a refused body leaves the tables as they were.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/ConfigTables.h"

namespace {

web::ConfigTables Sample() {
  web::ConfigTables tables;
  tables.m_tables[web::ConfigTables::kEndpoints] = {{"name", "protocol", "timeout", "host"},
                                                    {{"SIM", "1", "1000", ""}}};
  tables.m_tables[web::ConfigTables::kScans] = {{"file", "endpoint", "slave_node"},
                                                {{"a.scn", "SIM", "1"}}};
  tables.m_tables[web::ConfigTables::kTags] = {{"file", "name"}, {}};
  return tables;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  for (const char* table : {web::ConfigTables::kEndpoints, web::ConfigTables::kScans}) {
    for (const char* key : {"SIM", "a.scn", "new"}) {
      web::ConfigTables tables = Sample();
      const std::string before = tables.Json();
      std::string error;
      if (!tables.Merge(table, key, body, error)) {
        if (error.empty() || tables.Json() != before) std::abort();
      } else if (tables.Row(table, key).empty()) {
        std::abort();
      }
    }
  }
  // The CSV the export writes is read back by the same parser.
  const auto rows = web::ParseCsv(body);
  std::string again;
  for (const auto& row : rows) again += web::CsvLine(row);
  if (web::ParseCsv(again) != rows) std::abort();
  return 0;
}
