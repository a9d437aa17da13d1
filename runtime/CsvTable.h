// Comma-separated text as spreadsheets read and write it (RFC 4180): a field
// holding a comma, a quote or a line break is quoted, and a quote inside a
// quoted field is doubled. Rows end in CRLF when written; CRLF or LF is read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CsvTable {
 public:
  using Row = std::vector<std::string>;

  // False, with the reason and the row it was found in (rows counted from 1,
  // a quoted line break does not start a new row), when text is not CSV.
  static bool Parse(std::string_view text, std::vector<Row>& rows, std::string& error);
  static std::string Format(const std::vector<Row>& rows);
  static std::string Quote(const std::string& field);
};
