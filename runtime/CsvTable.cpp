#include "runtime/CsvTable.h"

namespace {

bool NeedsQuotes(const std::string& field) {
  return field.find_first_of(",\"\r\n") != std::string::npos;
}

// Reads one record from text at position; false with the reason when it is
// not well formed. An empty line is a record of one empty field.
class RecordReader {
 public:
  explicit RecordReader(std::string_view text) : m_text(text) {}

  bool AtEnd() const { return m_pos >= m_text.size(); }

  bool Read(CsvTable::Row& row, std::string& reason) {
    row.assign(1, std::string());
    while (!AtEnd()) {
      const char c = m_text[m_pos];
      if (c == ',') {
        row.emplace_back();
        ++m_pos;
      } else if (c == '\n' || c == '\r') {
        SkipLineEnd();
        return true;
      } else if (c == '"') {
        if (m_quotedJustEnded || !row.back().empty()) {
          return Fail(reason, "a quote inside a field that is not quoted from its start");
        }
        if (!ReadQuoted(row.back(), reason)) return false;
      } else {
        if (m_quotedJustEnded) return Fail(reason, "text after the closing quote of a field");
        row.back() += c;
        ++m_pos;
      }
      if (c == ',') m_quotedJustEnded = false;
    }
    return true;
  }

 private:
  bool ReadQuoted(std::string& field, std::string& reason) {
    ++m_pos;
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos++];
      if (c != '"') {
        field += c;
      } else if (m_pos < m_text.size() && m_text[m_pos] == '"') {
        field += '"';
        ++m_pos;
      } else {
        m_quotedJustEnded = true;
        return true;
      }
    }
    return Fail(reason, "a quoted field is not closed");
  }

  void SkipLineEnd() {
    if (m_text[m_pos] == '\r') ++m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == '\n') ++m_pos;
    m_quotedJustEnded = false;
  }

  static bool Fail(std::string& reason, const char* text) {
    reason = text;
    return false;
  }

  std::string_view m_text;
  size_t m_pos = 0;
  bool m_quotedJustEnded = false;
};

}  // namespace

bool CsvTable::Parse(std::string_view text, std::vector<Row>& rows, std::string& error) {
  rows.clear();
  RecordReader reader(text);
  std::string reason;
  while (!reader.AtEnd()) {
    Row row;
    if (!reader.Read(row, reason)) {
      error = "row " + std::to_string(rows.size() + 1) + ": " + reason;
      return false;
    }
    rows.push_back(std::move(row));
  }
  return true;
}

std::string CsvTable::Format(const std::vector<Row>& rows) {
  std::string text;
  for (const Row& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) text += ',';
      text += Quote(row[i]);
    }
    text += "\r\n";
  }
  return text;
}

std::string CsvTable::Quote(const std::string& field) {
  if (!NeedsQuotes(field)) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}
