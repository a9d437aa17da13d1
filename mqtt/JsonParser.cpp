#include "mqtt/JsonParser.h"

#include <cstdint>
#include <set>

namespace mqtt {

namespace {
constexpr uint32_t kHighSurrogateFirst = 0xD800;
constexpr uint32_t kLowSurrogateFirst = 0xDC00;
constexpr uint32_t kLowSurrogateEnd = 0xE000;
constexpr uint32_t kFirstControl = 0x20;

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}
}  // namespace

const JsonValue* JsonValue::Member(std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

bool JsonParser::Parse(std::string_view document, JsonValue* value) {
  JsonParser parser(document);
  if (!parser.ParseValue(value, 0)) return false;
  parser.SkipSpace();
  return parser.m_at == document.size();
}

void JsonParser::SkipSpace() {
  while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                  m_text[m_at] == '\n' || m_text[m_at] == '\r')) {
    ++m_at;
  }
}

bool JsonParser::Eat(char c) {
  if (m_at < m_text.size() && m_text[m_at] == c) {
    ++m_at;
    return true;
  }
  return false;
}

size_t JsonParser::Digits() {
  const size_t start = m_at;
  while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') ++m_at;
  return m_at - start;
}

bool JsonParser::ParseValue(JsonValue* value, int depth) {
  if (depth > kMaxDepth) return false;
  SkipSpace();
  if (m_at >= m_text.size()) return false;
  value->begin = m_at;
  bool ok = false;
  switch (m_text[m_at]) {
    case 'n':
      ok = ParseLiteral("null");
      value->kind = JsonValue::Kind::Null;
      break;
    case 't':
      ok = ParseLiteral("true");
      value->kind = JsonValue::Kind::Bool;
      value->boolean = true;
      break;
    case 'f':
      ok = ParseLiteral("false");
      value->kind = JsonValue::Kind::Bool;
      break;
    case '"':
      value->kind = JsonValue::Kind::String;
      ok = ParseString(&value->text);
      break;
    case '[': ok = ParseArray(value, depth); break;
    case '{': ok = ParseObject(value, depth); break;
    default: ok = ParseNumber(value); break;
  }
  value->end = m_at;
  return ok;
}

bool JsonParser::ParseLiteral(std::string_view word) {
  if (m_text.substr(m_at, word.size()) != word) return false;
  m_at += word.size();
  return true;
}

bool JsonParser::ParseNumber(JsonValue* value) {
  const size_t start = m_at;
  Eat('-');
  if (Eat('0')) {
    // A leading zero stands alone.
  } else if (Digits() == 0) {
    return false;
  }
  if (Eat('.') && Digits() == 0) return false;
  if (Eat('e') || Eat('E')) {
    if (!Eat('+')) Eat('-');
    if (Digits() == 0) return false;
  }
  value->kind = JsonValue::Kind::Number;
  value->text = std::string(m_text.substr(start, m_at - start));
  return true;
}

bool JsonParser::ParseHex4(uint32_t* code) {
  if (m_text.size() - m_at < 4) return false;
  *code = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = m_text[m_at++];
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    *code = *code << 4 | digit;
  }
  return true;
}

bool JsonParser::ParseEscape(std::string* out) {
  if (m_at >= m_text.size()) return false;
  const char c = m_text[m_at++];
  switch (c) {
    case '"':
    case '\\':
    case '/': out->push_back(c); return true;
    case 'b': out->push_back('\b'); return true;
    case 'f': out->push_back('\f'); return true;
    case 'n': out->push_back('\n'); return true;
    case 'r': out->push_back('\r'); return true;
    case 't': out->push_back('\t'); return true;
    case 'u': break;
    default: return false;
  }
  uint32_t code = 0;
  if (!ParseHex4(&code)) return false;
  if (code >= kLowSurrogateFirst && code < kLowSurrogateEnd) return false;
  if (code >= kHighSurrogateFirst && code < kLowSurrogateFirst) {
    uint32_t low = 0;
    if (!Eat('\\') || !Eat('u') || !ParseHex4(&low)) return false;
    if (low < kLowSurrogateFirst || low >= kLowSurrogateEnd) return false;
    code = 0x10000 + ((code - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
  }
  AppendUtf8(out, code);
  return true;
}

bool JsonParser::ParseString(std::string* out) {
  if (!Eat('"')) return false;
  while (m_at < m_text.size()) {
    const char c = m_text[m_at++];
    if (c == '"') return true;
    if (static_cast<unsigned char>(c) < kFirstControl) return false;
    if (c == '\\') {
      if (!ParseEscape(out)) return false;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

bool JsonParser::ParseArray(JsonValue* value, int depth) {
  value->kind = JsonValue::Kind::Array;
  Eat('[');
  SkipSpace();
  if (Eat(']')) return true;
  do {
    value->items.emplace_back();
    if (!ParseValue(&value->items.back(), depth + 1)) return false;
    SkipSpace();
  } while (Eat(','));
  return Eat(']');
}

bool JsonParser::ParseObject(JsonValue* value, int depth) {
  value->kind = JsonValue::Kind::Object;
  Eat('{');
  SkipSpace();
  if (Eat('}')) return true;
  std::set<std::string> keys;
  do {
    SkipSpace();
    std::string key;
    if (!ParseString(&key) || !keys.insert(key).second) return false;
    SkipSpace();
    if (!Eat(':')) return false;
    JsonValue member;
    if (!ParseValue(&member, depth + 1)) return false;
    value->members.push_back({std::move(key), std::move(member)});
    SkipSpace();
  } while (Eat(','));
  return Eat('}');
}

}  // namespace mqtt
