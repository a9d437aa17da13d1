// The configuration through the API, on the main thread: read whole, and an
// endpoint or scan changed, checked and saved. Both go through CsvConfig's
// export and import in a folder of their own, so that the columns, the
// checks and the refusals ("scans.csv row 3: ...") are the CSV import's, and
// a change that passes replaces the running configuration as an import does
// (every endpoint reconnected, every scan reopened) and is saved to the
// configuration file.
#pragma once

#include <string>

#include "web/ProgramFigures.h"

class Runtime;

namespace web {

struct ConfigAnswer {
  int status = 200;
  std::string text;  // the JSON answer, or why not
};

struct ConfigApi {
  // {"endpoints": [...], "scans": [...], "tags": [...], "mqtt": {...}, "opcua": {...}}:
  // the tables, and pelmoran.ini's [Mqtt] (without its password) and [OpcUa].
  static ConfigAnswer Read(Runtime& runtime, const ProgramFigures& figures);
  // table: "endpoints" or "scans"; key: the endpoint's name or the scan's
  // file; body: a JSON object of the columns to change. The row as it is
  // now, or 400 for a body that does not fit the table, 422 with the
  // import's refusal, 409 when the configuration cannot be exported.
  static ConfigAnswer Change(Runtime& runtime, const ProgramFigures& figures,
                             const std::string& table, const std::string& key,
                             const std::string& body);
};

}  // namespace web
