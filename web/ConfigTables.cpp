#include "web/ConfigTables.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "runtime/CsvConfig.h"

namespace web {

namespace {

using Json = nlohmann::json;

struct File {
  const char* table;
  const char* file;
};
constexpr File kFiles[] = {{ConfigTables::kEndpoints, CsvConfig::kEndpointsFile},
                           {ConfigTables::kScans, CsvConfig::kScansFile},
                           {ConfigTables::kTags, CsvConfig::kTagsFile}};

// The column that names a row, by table.
std::string KeyColumn(const std::string& table) {
  return table == ConfigTables::kEndpoints ? "name" : "file";
}

// A value as CsvConfig reads it: a string as it is, a whole number in
// decimal, any other number in its shortest form that reads back the same.
bool CellOf(const Json& value, std::string& cell) {
  if (value.is_string()) {
    cell = value.get<std::string>();
    return true;
  }
  if (!value.is_number()) return false;
  cell = value.dump();
  return true;
}

}  // namespace

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
      any = true;
    } else if (c == '\n') {
      if (any || !field.empty()) row.push_back(std::move(field));
      if (!row.empty()) rows.push_back(std::move(row));
      row.clear();
      field.clear();
      any = false;
    } else if (c != '\r') {
      field += c;
    }
  }
  if (any || !field.empty()) row.push_back(std::move(field));
  if (!row.empty()) rows.push_back(std::move(row));
  return rows;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  // A row of one empty field would read back as a blank row, which is passed over.
  if (fields.size() == 1 && fields[0].empty()) return "\"\"\r\n";
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    if (i) line += ',';
    if (f.find_first_of(",\"\r\n") == std::string::npos) {
      line += f;
      continue;
    }
    line += '"';
    for (char c : f) line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
  }
  return line + "\r\n";
}

bool ConfigTables::Read(const std::string& folder, std::string& error) {
  for (const File& f : kFiles) {
    std::ifstream in(folder + "/" + f.file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<std::vector<std::string>> rows = ParseCsv(text.str());
    if (!in || rows.empty()) {
      error = std::string("cannot read ") + f.file;
      return false;
    }
    Table& table = m_tables[f.table];
    table.header = rows.front();
    table.rows.assign(rows.begin() + 1, rows.end());
  }
  return true;
}

bool ConfigTables::Write(const std::string& folder, std::string& error) const {
  for (const File& f : kFiles) {
    const Table& table = m_tables.at(f.table);
    std::ofstream out(folder + "/" + f.file, std::ios::binary | std::ios::trunc);
    out << CsvLine(table.header);
    for (const auto& row : table.rows) out << CsvLine(row);
    if (!out) {
      error = std::string("cannot write ") + f.file;
      return false;
    }
  }
  return true;
}

namespace {

Json RowJson(const Table& table, const std::vector<std::string>& row) {
  Json object = Json::object();
  for (size_t i = 0; i < table.header.size(); ++i)
    object[table.header[i]] = i < row.size() ? row[i] : std::string();
  return object;
}

}  // namespace

std::string ConfigTables::Json() const {
  ::web::Json document = ::web::Json::object();
  for (const auto& [name, table] : m_tables) {
    ::web::Json rows = ::web::Json::array();
    for (const auto& row : table.rows) rows.push_back(RowJson(table, row));
    document[name] = rows;
  }
  return document.dump(-1, ' ', false, ::web::Json::error_handler_t::replace);
}

std::string ConfigTables::Row(const std::string& name, const std::string& key) const {
  auto table = m_tables.find(name);
  if (table == m_tables.end()) return "";
  const Table& t = table->second;
  auto column = std::find(t.header.begin(), t.header.end(), KeyColumn(name));
  if (column == t.header.end()) return "";
  const size_t at = static_cast<size_t>(column - t.header.begin());
  for (const auto& row : t.rows)
    if (at < row.size() && row[at] == key)
      return RowJson(t, row).dump(-1, ' ', false, ::web::Json::error_handler_t::replace);
  return "";
}

bool ConfigTables::Merge(const std::string& name, const std::string& key, const std::string& body,
                         std::string& error) {
  if (name != kEndpoints && name != kScans) {
    error = "only endpoints and scans can be changed";
    return false;
  }
  if (body.size() > kMaxBody) {
    error = "the body is over " + std::to_string(kMaxBody) + " bytes";
    return false;
  }
  ::web::Json change = ::web::Json::parse(body, nullptr, false);
  if (change.is_discarded()) {
    error = "the body is not JSON";
    return false;
  }
  if (!change.is_object()) {
    error = "the body must be a JSON object of columns and their values";
    return false;
  }
  Table& table = m_tables[name];
  const std::string keyColumn = KeyColumn(name);
  auto keyAt = std::find(table.header.begin(), table.header.end(), keyColumn);
  if (keyAt == table.header.end()) {
    error = "the " + name + " table has no " + keyColumn + " column";
    return false;
  }
  const size_t keyIndex = static_cast<size_t>(keyAt - table.header.begin());
  auto row = std::find_if(table.rows.begin(), table.rows.end(), [&](const auto& r) {
    return keyIndex < r.size() && r[keyIndex] == key;
  });
  const bool added = row == table.rows.end();
  std::vector<std::string> merged =
      added ? std::vector<std::string>(table.header.size()) : *row;
  merged.resize(table.header.size());
  std::vector<bool> given(table.header.size(), false);
  for (const auto& [column, value] : change.items()) {
    auto at = std::find(table.header.begin(), table.header.end(), column);
    if (at == table.header.end()) {
      error = "no column \"" + column + "\" in " + name;
      return false;
    }
    const size_t index = static_cast<size_t>(at - table.header.begin());
    if (index == keyIndex) {
      error = "the " + keyColumn + " is the path's: " + keyColumn + " cannot be changed here";
      return false;
    }
    if (!CellOf(value, merged[index])) {
      error = "column \"" + column + "\": give a string or a number";
      return false;
    }
    given[index] = true;
  }
  merged[keyIndex] = key;
  given[keyIndex] = true;
  if (added) {
    for (size_t i = 0; i < given.size(); ++i) {
      if (!given[i]) {
        error = "a new row of " + name + " needs every column; \"" + table.header[i] +
                "\" is missing";
        return false;
      }
    }
    table.rows.push_back(merged);
  } else {
    *row = merged;
  }
  return true;
}

}  // namespace web
