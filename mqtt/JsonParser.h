// A strict JSON reader (RFC 8259) for the write payloads subscribers send:
// no comments, no trailing commas, no duplicate keys, no lone surrogates,
// nesting bounded, and nothing but white space after the value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mqtt {

struct JsonMember;

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  // A number's text as it was written, so integers keep every digit.
  std::string text;
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;
  // Where the value's text begins and ends in the document.
  size_t begin = 0;
  size_t end = 0;

  const JsonValue* Member(std::string_view key) const;
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

class JsonParser {
 public:
  static bool Parse(std::string_view document, JsonValue* value);

 private:
  static constexpr int kMaxDepth = 32;

  explicit JsonParser(std::string_view document) : m_text(document) {}
  bool ParseValue(JsonValue* value, int depth);
  bool ParseLiteral(std::string_view word);
  bool ParseNumber(JsonValue* value);
  bool ParseString(std::string* out);
  bool ParseEscape(std::string* out);
  bool ParseHex4(uint32_t* code);
  bool ParseArray(JsonValue* value, int depth);
  bool ParseObject(JsonValue* value, int depth);
  void SkipSpace();
  bool Eat(char c);
  size_t Digits();

  std::string_view m_text;
  size_t m_at = 0;
};

}  // namespace mqtt
