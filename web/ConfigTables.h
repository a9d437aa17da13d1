// The configuration as the API shows and takes it: the three tables that
// CsvConfig exports and imports (endpoints, scans, tags), each row an object
// of its column names, and a change to one endpoint or scan merged into
// them. The columns, their ranges and the refusals are CsvConfig's, and
// docs/files.md says what each means.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace web {

struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};

class ConfigTables {
 public:
  static constexpr const char* kEndpoints = "endpoints";
  static constexpr const char* kScans = "scans";
  static constexpr const char* kTags = "tags";
  static constexpr size_t kMaxBody = 64 * 1024;

  // Reads the three files of a CsvConfig export in folder; false with the
  // reason.
  bool Read(const std::string& folder, std::string& error);
  // Writes them back, for CsvConfig to import.
  bool Write(const std::string& folder, std::string& error) const;
  // {"endpoints": [{column: text, ...}, ...], "scans": [...], "tags": [...]}
  std::string Json() const;

  // Merges body, a JSON object of columns and their new values (strings or
  // numbers), into the row of the table ("endpoints" or "scans") whose key
  // column (name, file) is key; a row that is not there is added, and then
  // needs every column. The key is the path's, not the body's. False with
  // the reason, the tables unchanged.
  bool Merge(const std::string& table, const std::string& key, const std::string& body,
             std::string& error);
  // The row as a JSON object, or "" when there is none.
  std::string Row(const std::string& table, const std::string& key) const;

  std::map<std::string, Table> m_tables;
};

// RFC 4180 fields of CSV text, as CsvConfig writes them.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace web
