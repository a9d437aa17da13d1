#include <gtest/gtest.h>

#include <string>

#include "web/ConfigTables.h"

namespace web {
namespace {

ConfigTables Sample() {
  ConfigTables tables;
  tables.m_tables[ConfigTables::kEndpoints] = {{"name", "timeout", "host"},
                                               {{"SIM", "1000", ""}}};
  tables.m_tables[ConfigTables::kScans] = {{"file", "endpoint"}, {{"a.scn", "SIM"}}};
  tables.m_tables[ConfigTables::kTags] = {{"file", "name"}, {}};
  return tables;
}

TEST(ConfigTablesTest, AChangeIsMergedIntoItsRowOrRefusedWithItsReason) {
  struct Case {
    const char* what;
    std::string table, key, body;
    std::string error;  // empty: merged
    std::string row;    // the row afterwards
  };
  const std::string unchanged = R"({"host":"","name":"SIM","timeout":"1000"})";
  const Case cases[] = {
      {"a number", "endpoints", "SIM", R"({"timeout": 2500})", "",
       R"({"host":"","name":"SIM","timeout":"2500"})"},
      {"a string with a comma", "endpoints", "SIM", R"({"host": "plc,1"})", "",
       R"({"host":"plc,1","name":"SIM","timeout":"1000"})"},
      {"a new row whole", "endpoints", "NEW", R"({"timeout": 5, "host": "h"})", "",
       R"({"host":"h","name":"NEW","timeout":"5"})"},
      {"not JSON", "endpoints", "SIM", "{timeout:", "the body is not JSON", unchanged},
      {"not an object", "endpoints", "SIM", "[1]",
       "the body must be a JSON object of columns and their values", unchanged},
      {"no such column", "endpoints", "SIM", R"({"speed": 1})",
       "no column \"speed\" in endpoints", unchanged},
      {"the key", "endpoints", "SIM", R"({"name": "X"})",
       "the name is the path's: name cannot be changed here", unchanged},
      {"a boolean", "endpoints", "SIM", R"({"timeout": true})",
       "column \"timeout\": give a string or a number", unchanged},
      {"a new row in part", "endpoints", "NEW", R"({"timeout": 5})",
       "a new row of endpoints needs every column; \"host\" is missing", ""},
      {"the tags", "tags", "a.scn", "{}", "only endpoints and scans can be changed", ""},
  };
  for (const Case& c : cases) {
    ConfigTables tables = Sample();
    std::string error;
    EXPECT_EQ(tables.Merge(c.table, c.key, c.body, error), c.error.empty()) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(tables.Row(c.table, c.key), c.row) << c.what;
  }
}

TEST(ConfigTablesTest, CsvFieldsReadBackAsTheyWereWritten) {
  const std::vector<std::vector<std::string>> rows = {
      {"name", "host"}, {"a \"b\", c", "line\nbreak"}, {""}, {"x", ""}};
  std::string text;
  for (const auto& row : rows) text += CsvLine(row);
  EXPECT_EQ(ParseCsv(text), rows);
}

}  // namespace
}  // namespace web
