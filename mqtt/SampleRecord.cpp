#include "mqtt/SampleRecord.h"

#include <bit>
#include <cstring>

namespace mqtt {

namespace {

template <typename T>
void Put(std::string& out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    out.push_back(static_cast<char>(static_cast<uint64_t>(value) >> (8 * i)));
  }
}

void PutText(std::string& out, const std::string& text) {
  Put<uint32_t>(out, static_cast<uint32_t>(text.size()));
  out += text;
}

// Reads fields off the front of a record; any read past the end fails the
// whole record.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
  template <typename T>
  bool Get(T* value) {
    if (m_bytes.size() < sizeof(T)) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t{m_bytes[i]} << (8 * i);
    *value = static_cast<T>(v);
    m_bytes = m_bytes.subspan(sizeof(T));
    return true;
  }
  bool GetText(std::string* text) {
    uint32_t size = 0;
    if (!Get(&size) || m_bytes.size() < size) return false;
    text->assign(reinterpret_cast<const char*>(m_bytes.data()), size);
    m_bytes = m_bytes.subspan(size);
    return true;
  }
  bool AtEnd() const { return m_bytes.empty(); }

 private:
  std::span<const uint8_t> m_bytes;
};

}  // namespace

void SampleRecord::PutValue(std::string& out, const ScalarValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) {
    Put(out, ValueKind::Bool);
    Put<uint8_t>(out, *b ? 1 : 0);
  } else if (const auto* i = std::get_if<int64_t>(&value)) {
    Put(out, ValueKind::Int);
    Put(out, *i);
  } else if (const auto* u = std::get_if<uint64_t>(&value)) {
    Put(out, ValueKind::UInt);
    Put(out, *u);
  } else if (const auto* d = std::get_if<double>(&value)) {
    Put(out, ValueKind::Double);
    Put(out, std::bit_cast<uint64_t>(*d));
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    Put(out, ValueKind::Text);
    PutText(out, *s);
  } else {
    Put(out, ValueKind::None);
  }
}

std::string SampleRecord::Encode(const MetricSample& sample) {
  std::string out;
  PutText(out, sample.endpoint);
  PutText(out, sample.device);
  PutText(out, sample.name);
  Put(out, sample.type);
  Put(out, sample.status);
  Put(out, sample.timeMs);
  PutValue(out, sample.value);
  return out;
}

bool SampleRecord::Decode(std::span<const uint8_t> bytes, MetricSample* sample) {
  Reader in(bytes);
  uint8_t kind = 0;
  if (!in.GetText(&sample->endpoint) || !in.GetText(&sample->device) ||
      !in.GetText(&sample->name) || !in.Get(&sample->type) || !in.Get(&sample->status) ||
      !in.Get(&sample->timeMs) || !in.Get(&kind)) {
    return false;
  }
  bool ok = true;
  switch (static_cast<ValueKind>(kind)) {
    case ValueKind::None: sample->value = std::monostate{}; break;
    case ValueKind::Bool: {
      uint8_t b = 0;
      ok = in.Get(&b) && b <= 1;
      sample->value = b == 1;
      break;
    }
    case ValueKind::Int: {
      int64_t i = 0;
      ok = in.Get(&i);
      sample->value = i;
      break;
    }
    case ValueKind::UInt: {
      uint64_t u = 0;
      ok = in.Get(&u);
      sample->value = u;
      break;
    }
    case ValueKind::Double: {
      uint64_t bits = 0;
      ok = in.Get(&bits);
      sample->value = std::bit_cast<double>(bits);
      break;
    }
    case ValueKind::Text: {
      std::string text;
      ok = in.GetText(&text);
      sample->value = std::move(text);
      break;
    }
    default: return false;
  }
  return ok && in.AtEnd();
}

}  // namespace mqtt
