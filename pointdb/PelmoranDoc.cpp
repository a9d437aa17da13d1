#include "pointdb/PelmoranDoc.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>

#include "pointdb/ClientWrites.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/ModbusFunction.h"
#include "pointdb/RegisterCodec.h"
#include "pointdb/RequestSink.h"
#include "pointdb/ScanContext.h"
#include "pointdb/ScanLink.h"
#include "pointdb/ScanView.h"
#include "pointdb/TagPublisher.h"
#include "pointdb/TagServerBinding.h"
#include "pointdb/WriteRange.h"

namespace {

constexpr int kFullScale4095 = 4095;
constexpr int kFullScale9999 = 9999;
// The most registers one function 16 request writes.
constexpr int kMaxWriteWords = 123;

int64_t SteadyMs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
}

uint32_t StatusOfConversion(HRESULT result) {
  return result == DISP_E_OVERFLOW ? OPC_STATUS_BAD_OUT_OF_RANGE : OPC_STATUS_BAD_TYPE_MISMATCH;
}

// The type a client's value is converted to before it is encoded.
VARTYPE WriteVariantType(DataType type) {
  switch (type) {
    case DataType::Unsigned: return VT_UINT;
    case DataType::Integer:
    case DataType::LongLowWordFirst:
    case DataType::LongHighWordFirst: return VT_INT;
    default: return VT_R4;
  }
}

// A write request carries its Modbus function where a poll carries its point
// type: one register by 06, a pair by 16, a coil by 05.
ModbusFunction WriteFunction(PointType type, int count) {
  if (type != PointType::HoldingRegister) return ModbusFunction::WriteSingleCoil;
  return count == 1 ? ModbusFunction::WriteSingleRegister : ModbusFunction::WriteMultipleRegisters;
}

// Words beyond the record read as 0: a damaged or oversized scan never reads
// past its buffer.
uint16_t Word(const CModbusMsg& scan, int index) {
  if (index < 0 || index >= CModbusMsg::kDataWords) return 0;
  return scan.m_data[index];
}

uint32_t LowFirst(const CModbusMsg& scan, int i) {
  return static_cast<uint32_t>(Word(scan, 2 * i)) |
         (static_cast<uint32_t>(Word(scan, 2 * i + 1)) << 16);
}

uint32_t HighFirst(const CModbusMsg& scan, int i) {
  return (static_cast<uint32_t>(Word(scan, 2 * i)) << 16) |
         static_cast<uint32_t>(Word(scan, 2 * i + 1));
}

float Scaled(const CModbusTag& tag, uint16_t raw, int fullScale) {
  long double span = static_cast<long double>(tag.m_fHighLimit) - tag.m_fLowLimit;
  return static_cast<float>(span * (raw / static_cast<long double>(fullScale)) + tag.m_fLowLimit);
}

float Scaled4095(const CModbusTag& tag, uint16_t raw) {
  if (raw == 0) return tag.m_fLowLimit;
  if (raw >= kFullScale4095) return tag.m_fHighLimit;
  return Scaled(tag, raw, kFullScale4095);
}

float Scaled9999(const CModbusTag& tag, uint16_t raw, uint16_t highFrom) {
  if (raw == 0) return tag.m_fLowLimit;
  if (raw >= highFrom) return tag.m_fHighLimit;
  return Scaled(tag, raw, kFullScale9999);
}

// "%3.2f" without the process locale's decimal separator.
std::string Fixed2(double value) {
  char buffer[400];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, r.ptr);
}

// The scaled raw value of a client write: below the low limit 0, above the
// high limit the full scale, else truncated (never rounded) from single
// precision steps.
uint16_t ScaledRaw(float x, float low, float high, int fullScale) {
  if (x < low) return 0;
  if (x > high) return static_cast<uint16_t>(fullScale);
  // Equal limits would divide zero by zero; the only value between them is
  // the limit itself, which is the bottom of the scale.
  if (high == low) return 0;
  float d = static_cast<float>(static_cast<long double>(x) - low);
  long double span = static_cast<long double>(high) - low;
  float q = static_cast<float>(d / span * fullScale);
  // Damaged limits (not numbers) give no quotient at all: the bottom of the
  // scale, never an undefined conversion.
  if (!(q > 0.0f)) return 0;
  if (q >= static_cast<float>(fullScale)) return static_cast<uint16_t>(fullScale);
  return static_cast<uint16_t>(static_cast<int32_t>(q));
}

const char* const kTypeTexts[] = {"UNSIGNED",       "INTEGER",          "Scaled 0-4095",
                                  "Scaled 0-9999",  "IEEE Floating-Pt", "IEEE Floating-Pt",
                                  "32-Bit Integer", "32-Bit Integer"};

// The list view's text of a tag of data type 0-7.
std::string ValueText(const CModbusMsg& scan, const CModbusTag& tag, int i) {
  uint16_t raw = Word(scan, i);
  switch (tag.GetDataType()) {
    case DataType::Unsigned: return std::to_string(raw);
    case DataType::Integer: return std::to_string(static_cast<int16_t>(raw));
    case DataType::Scaled4095: return Fixed2(Scaled4095(tag, raw));
    case DataType::Scaled9999: return Fixed2(Scaled9999(tag, raw, kFullScale9999));
    case DataType::FloatLowWordFirst: return Fixed2(std::bit_cast<float>(LowFirst(scan, i)));
    case DataType::FloatHighWordFirst: return Fixed2(std::bit_cast<float>(HighFirst(scan, i)));
    case DataType::LongLowWordFirst: return std::to_string(static_cast<int32_t>(LowFirst(scan, i)));
    case DataType::LongHighWordFirst:
      return std::to_string(static_cast<int32_t>(HighFirst(scan, i)));
    default: break;  // the register codec's types
  }
  return "";
}

// A scan and a client write fail for the same reasons, and a client reads the
// same code for both.
void PublishAll(std::vector<std::unique_ptr<CModbusTag>>& tags, int32_t modbusStatus,
                ITagObserver* observer) {
  int64_t now = tagpublisher::Now();
  for (auto& tag : tags)
    tagpublisher::Publish(*tag, clientwrites::StatusOf(modbusStatus), now, observer);
}

// The scan as its finished requests reach it.
class ScanResponder : public IRequestSink {
 public:
  explicit ScanResponder(CPelmoranDoc& doc) : m_doc(doc) {}
  void OnRequestDone(CModbusMsg* request) override { m_doc.OnScanResponse(request); }

 private:
  CPelmoranDoc& m_doc;
};

}  // namespace

CPelmoranDoc::CPelmoranDoc(ScanContext& context)
    : m_nKey(++context.m_nDocKeyCounter),
      m_nNumbrPolls(0),
      m_context(context),
      m_pResponder(std::make_shared<ScanResponder>(*this)) {
  m_scan.Copy(context.m_pendingScan);
  m_strEndpoint = context.m_strPendingEndpoint;
  m_scan.m_nKey = m_nKey;
  // The data type is chosen for registers only (the choice is closed for bit
  // scans). A leftover two-register default would name coil 2i but read and
  // write coil i, so bit points always take one tag per point, unsigned.
  bool bits = IsBitPointType(ScanPointType());
  int dataType = bits ? static_cast<int>(DataType::Unsigned) : context.m_nDefaultDataType;
  TagFormat format = bits ? TagFormat{} : context.m_defaultFormat;
  int registers = RegistersOf(dataType, format);
  m_scan.m_nTagCount = m_scan.m_nScanLength / registers;
  for (int i = 0; i < m_scan.m_nTagCount; ++i) {
    auto tag = std::make_unique<CModbusTag>();
    std::string name = m_scan.MakeTagName(TagPointOffset(i, registers), m_strEndpoint);
    tag->m_nPointType = m_scan.m_nPointType;
    tag->m_nDataType = dataType;
    tag->m_fLowLimit = context.m_fDefaultLowLimit;
    tag->m_fHighLimit = context.m_fDefaultHighLimit;
    tag->m_format = format;
    tagpublisher::Create(*tag, name, OPC_QUALITY_BAD, TagSource());
    context.m_tagOwners.Add(tag->m_hTag, *this);
    // Quality 0 alone would not tell a client that a value is on its way.
    tagpublisher::Publish(*tag, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA, tagpublisher::Now(),
                          context.m_pTagObserver);
    m_tags.push_back(std::move(tag));
  }
}

CPelmoranDoc::~CPelmoranDoc() {
  m_context.m_tagOwners.RemoveScan(*this);
  for (auto& tag : m_tags) tagpublisher::Remove(*tag, m_context.m_pTagObserver);
}

tagpublisher::TagSource CPelmoranDoc::TagSource() const {
  return {.endpoint = m_strEndpoint,
          .slaveNode = m_scan.m_nSlaveNode,
          .writable = IsWritablePointType(ScanPointType()),
          .observer = m_context.m_pTagObserver};
}

void CPelmoranDoc::AnnounceTags(ITagObserver& observer) const {
  tagpublisher::TagSource source = TagSource();
  source.observer = &observer;
  for (int i = 0; i < GetTagCount(); ++i) tagpublisher::Announce(*m_tags[i], GetTagName(i), source);
}

std::string CPelmoranDoc::GetTagName(int i) const {
  const CModbusTag* tag = GetTag(i);
  return m_scan.MakeTagName(TagPointOffset(i, tag ? TagRegisters(*tag) : 1), m_strEndpoint);
}

bool CPelmoranDoc::HasWideRegisters() const {
  const IScanLink* link = m_context.m_pLink;
  if (!link || !link->HasDanielsRegisters(m_strEndpoint)) return false;
  if (IsBitPointType(ScanPointType())) return false;
  const int address = m_scan.m_nPointAddress;
  return (address >= 5001 && address <= 5999) || (address >= 7001 && address <= 7999);
}

int CPelmoranDoc::TagPointOffset(int i, int registers) const {
  if (registers < 2) return i;
  return HasWideRegisters() ? i * (registers / 2) : i * registers;
}

int CPelmoranDoc::TagRegisters(const CModbusTag& tag) const {
  if (IsBitPointType(tag.GetPointType())) return 1;
  return RegistersOf(tag.m_nDataType, tag.m_format);
}

bool CPelmoranDoc::DecodeValue(const CModbusTag& tag, int i, VARIANT& value) const {
  if (IsBitPointType(tag.GetPointType()) ||
      !RegisterCodec::Handles(tag.m_nDataType, tag.m_format)) {
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = DecodeTag(&tag, i);
    return true;
  }
  RegisterCodec codec(*FindDataTypeInfo(tag.m_nDataType), tag.m_format);
  return codec.Decode(TagWords(i, codec.Registers()), value);
}

std::vector<uint16_t> CPelmoranDoc::TagWords(int i, int registers) const {
  std::vector<uint16_t> words(static_cast<size_t>(registers));
  for (int k = 0; k < registers; ++k) words[k] = Word(m_scan, i * registers + k);
  return words;
}

void CPelmoranDoc::SetTagFormat(int i, int32_t dataType, float low, float high,
                                const TagFormat& format) {
  CModbusTag* tag = GetTag(i);
  if (tag == nullptr) return;
  const VARTYPE before = PublishedVarType(tag->m_nDataType, tag->m_format);
  tag->m_nDataType = dataType;
  tag->m_fLowLimit = low;
  tag->m_fHighLimit = high;
  tag->m_format = format;
  if (PublishedVarType(dataType, format) == before || tag->m_hTag == -1) return;
  // A node's type is fixed when it is published: a tag whose values change
  // type is published anew, and has no value until the next answer.
  m_context.m_tagOwners.Remove(tag->m_hTag);
  tagpublisher::Remove(*tag, m_context.m_pTagObserver);
  VariantClear(&tag->m_value);
  tagpublisher::Create(*tag, GetTagName(i), OPC_QUALITY_BAD, TagSource());
  m_context.m_tagOwners.Add(tag->m_hTag, *this);
  tagpublisher::Publish(*tag, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA, tagpublisher::Now(),
                        m_context.m_pTagObserver);
}

CModbusTag* CPelmoranDoc::GetTag(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= m_tags.size()) return nullptr;
  return m_tags[i].get();
}

int CPelmoranDoc::GetTagCount() const { return static_cast<int>(m_tags.size()); }

float CPelmoranDoc::DecodeTag(const CModbusTag* tag, int i) const {
  uint16_t raw = Word(m_scan, i);
  switch (tag->GetDataType()) {
    case DataType::Unsigned: return raw;
    case DataType::Integer: return static_cast<int16_t>(raw);
    case DataType::Scaled4095: return Scaled4095(*tag, raw);
    case DataType::Scaled9999: return Scaled9999(*tag, raw, kFullScale9999 + 1);
    case DataType::FloatLowWordFirst: return std::bit_cast<float>(LowFirst(m_scan, i));
    case DataType::FloatHighWordFirst: return std::bit_cast<float>(HighFirst(m_scan, i));
    case DataType::LongLowWordFirst:
      return static_cast<float>(static_cast<int32_t>(LowFirst(m_scan, i)));
    case DataType::LongHighWordFirst:
      return static_cast<float>(static_cast<int32_t>(HighFirst(m_scan, i)));
    default: break;  // the register codec's types
  }
  return 0.0f;
}

void CPelmoranDoc::FormatTag(int i, std::string& value, std::string& type, std::string& low,
                             std::string& high) const {
  type.clear();
  low.clear();
  high.clear();
  if (m_scan.Status() != ScanStatus::Ok) {
    value = m_scan.GetStatusText();
    return;
  }
  const CModbusTag* tag = GetTag(i);
  if (!tag) return;
  if (IsBitPointType(tag->GetPointType())) {
    value = Word(m_scan, i) == 0 ? "0" : "1";
    return;
  }
  if (RegisterCodec::Handles(tag->m_nDataType, tag->m_format)) {
    const DataTypeInfo& info = *FindDataTypeInfo(tag->m_nDataType);
    RegisterCodec codec(info, tag->m_format);
    value = codec.Text(TagWords(i, codec.Registers()));
    type = info.typeText;
    return;
  }
  if (!IsClassicDataType(tag->m_nDataType)) return;
  value = ValueText(m_scan, *tag, i);
  type = kTypeTexts[tag->m_nDataType];
  if (IsScaledDataType(tag->GetDataType())) {
    low = Fixed2(tag->m_fLowLimit);
    high = Fixed2(tag->m_fHighLimit);
  }
}

void CPelmoranDoc::FormatLastGood(int i, std::string& value, std::string& type, std::string& low,
                                  std::string& high) const {
  value.clear();
  type.clear();
  low.clear();
  high.clear();
  const CModbusTag* tag = GetTag(i);
  if (!tag) return;
  const VARIANT& last = tag->m_value;
  const bool published = last.vt != VT_EMPTY;
  if (IsBitPointType(tag->GetPointType())) {
    if (last.vt == VT_R4) value = last.fltVal == 0.0f ? "0" : "1";
    return;
  }
  // Typed tags keep their value exactly as published: the text is made from it.
  if (RegisterCodec::Handles(tag->m_nDataType, tag->m_format)) {
    type = FindDataTypeInfo(tag->m_nDataType)->typeText;
    if (published) value = RegisterCodec::TextOf(last);
    return;
  }
  if (!IsClassicDataType(tag->m_nDataType)) return;
  type = kTypeTexts[tag->m_nDataType];
  const DataType dataType = tag->GetDataType();
  if (IsScaledDataType(dataType)) {
    low = Fixed2(tag->m_fLowLimit);
    high = Fixed2(tag->m_fHighLimit);
  }
  if (last.vt != VT_R4) return;
  const bool whole = dataType == DataType::Unsigned || dataType == DataType::Integer;
  value = whole ? std::to_string(std::llround(last.fltVal)) : Fixed2(last.fltVal);
}

bool CPelmoranDoc::WriteCoil(int i, VARIANT* value) {
  HRESULT converted = VariantChangeType(value, value, 0, VT_BOOL);
  if (converted != S_OK) return RefuseWrite(StatusOfConversion(converted));
  uint16_t word = static_cast<uint16_t>(value->boolVal);
  return SendWrite(i, &word, 1);
}

bool CPelmoranDoc::WriteRegister(int i, VARIANT* value, CModbusTag* tag) {
  if (!IsKnownDataType(tag->m_nDataType)) return RefuseWrite(OPC_STATUS_BAD_TYPE_MISMATCH);
  if (!IsClassicDataType(tag->m_nDataType) ||
      (tag->m_format.scaled && IsScalableDataType(tag->m_nDataType)))
    return WriteEncoded(i, *value, *tag);
  const DataType type = tag->GetDataType();
  VARTYPE vt = WriteVariantType(type);
  HRESULT converted = VariantChangeType(value, value, 0, vt);
  if (converted != S_OK) return RefuseWrite(StatusOfConversion(converted));
  if (IsScaledDataType(type)) {
    // No register value stands for "not a number".
    if (std::isnan(value->fltVal)) return RefuseWrite(OPC_STATUS_BAD_OUT_OF_RANGE);
    uint16_t raw = ScaledRaw(value->fltVal, tag->m_fLowLimit, tag->m_fHighLimit,
                             type == DataType::Scaled4095 ? kFullScale4095 : kFullScale9999);
    return SendWrite(i, &raw, 1);
  }
  uint32_t bits = vt == VT_R4    ? std::bit_cast<uint32_t>(value->fltVal)
                  : vt == VT_INT ? static_cast<uint32_t>(value->intVal)
                                 : value->uintVal;
  uint16_t words[2] = {static_cast<uint16_t>(bits), static_cast<uint16_t>(bits >> 16)};
  if (!IsLongDataType(tag->m_nDataType)) return SendWrite(i, words, 1);
  if (IsHighWordFirst(type)) std::swap(words[0], words[1]);
  return SendWrite(TagPointOffset(i, 2), words, 2);
}

bool CPelmoranDoc::WriteEncoded(int i, const VARIANT& value, const CModbusTag& tag) {
  if (tag.GetDataType() == DataType::Bit && !m_bMaskWriteRefused) return WriteBit(i, value, tag);
  RegisterCodec codec(*FindDataTypeInfo(tag.m_nDataType), tag.m_format);
  const int registers = codec.Registers();
  // A device without mask writes gets the bit inside the register as last
  // read: a change the device made to its other bits since is written over.
  if (tag.GetDataType() == DataType::Bit && m_scan.Status() != ScanStatus::Ok)
    return RefuseWrite(OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
  std::vector<uint16_t> words;
  const uint32_t status = codec.Encode(value, Word(m_scan, i), words);
  if (status != OPC_STATUS_GOOD) return RefuseWrite(status);
  return SendWrite(TagPointOffset(i, registers), words.data(), registers);
}

// The device changes the one bit itself, whatever its other bits are now.
bool CPelmoranDoc::WriteBit(int i, const VARIANT& value, const CModbusTag& tag) {
  VARIANT flag;
  VariantInit(&flag);
  const HRESULT converted = VariantChangeType(&flag, &value, 0, VT_BOOL);
  if (converted != S_OK) return RefuseWrite(StatusOfConversion(converted));
  const auto bit = static_cast<uint16_t>(1u << (tag.m_format.bit & 15));
  const uint16_t masks[2] = {static_cast<uint16_t>(~bit),
                             flag.boolVal != VARIANT_FALSE ? bit : uint16_t{0}};
  return SendFunction(ModbusFunction::MaskWriteRegister, i, masks, 2);
}

bool CPelmoranDoc::RetryRefusedMaskWrite(CModbusMsg& answer) {
  constexpr int32_t kIllegalFunction = 1;
  if (answer.m_nPointType != static_cast<uint8_t>(ModbusFunction::MaskWriteRegister) ||
      answer.m_nStatus != kIllegalFunction)
    return false;
  m_bMaskWriteRefused = true;
  const int offset = answer.m_nPointAddress - m_scan.m_nPointAddress;
  const auto word = static_cast<uint16_t>((Word(m_scan, offset) & answer.m_data[0]) |
                                          (answer.m_data[1] & ~answer.m_data[0]));
  std::vector<uint64_t> tokens = std::move(answer.m_clientWrites);
  answer.m_clientWrites.clear();
  // A write no client waits for is sent again all the same.
  if (tokens.empty()) tokens.push_back(clientwrites::kNoToken);
  for (uint64_t token : tokens) {
    m_clientWrite = {.token = token, .sent = false, .refusal = OPC_STATUS_BAD_DEVICE_FAILURE};
    if (m_scan.Status() != ScanStatus::Ok) {
      RefuseWrite(OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
    } else {
      SendWrite(offset, &word, 1);
    }
    if (!m_clientWrite.sent)
      clientwrites::Complete(m_context.m_pTagObserver, token, m_clientWrite.refusal);
  }
  m_clientWrite = ClientWrite{};
  return true;
}

int CPelmoranDoc::Poll() {
  IScanLink* link = m_context.m_pLink;
  if (!link || !link->IsEndpointConnected(m_strEndpoint)) {
    m_scan.SetStatus(ScanStatus::ChannelNotConnected);
    // Values that are no longer being read must not stay good at the clients.
    PublishAll(m_tags, m_scan.m_nStatus, m_context.m_pTagObserver);
    if (m_pView) m_pView->OnScanComplete();
    return 0;
  }
  auto request = std::make_unique<CModbusMsg>();
  request->Copy(m_scan);
  request->m_nKey = m_nKey;
  request->m_pScan = m_pResponder;
  if (link->SendToEndpoint(m_strEndpoint, request.get())) {
    request.release();  // the endpoint owns it now and hands it back
    ++m_nNumbrPolls;
    m_pollSentMs = SteadyMs();
    return 1;
  }
  m_scan.m_nStatus = request->m_nStatus;
  // An equal poll is still queued and will bring fresh values; any other
  // refusal (a scan too long to be read) leaves the values stale.
  if (m_scan.Status() != ScanStatus::MsgOverrun)
    PublishAll(m_tags, m_scan.m_nStatus, m_context.m_pTagObserver);
  if (m_pView) m_pView->OnScanComplete();
  return 0;
}

void CPelmoranDoc::OnScanResponse(CModbusMsg* request) {
  std::unique_ptr<CModbusMsg> owned(request);
  if (RetryRefusedMaskWrite(*owned)) return;
  clientwrites::CompleteAll(m_context.m_pTagObserver, *owned);
  bool poll = owned->IsSameRequest(m_scan);
  int64_t roundTrip = poll && m_pollSentMs >= 0 ? SteadyMs() - m_pollSentMs : -1;
  m_counters.Count(owned->m_nStatus, roundTrip);
  if (poll) {
    m_pollSentMs = -1;
    // The poll frequency may have been changed while the poll was out; the
    // response must not bring back the old one.
    int32_t frequency = m_scan.m_nPollFrequency;
    m_scan.Copy(*owned);
    m_scan.m_nPollFrequency = frequency;
  }
  // A request the program settled itself (refused, demoted, its endpoint
  // gone) was settled just now.
  int64_t arrived = owned->m_answeredAt != 0 ? owned->m_answeredAt : tagpublisher::Now();
  owned.reset();
  if (m_scan.Status() == ScanStatus::Ok) m_lastGoodTime = arrived;
  uint32_t status = clientwrites::StatusOf(m_scan.m_nStatus);
  int count = std::min<int>(m_scan.m_nTagCount, GetTagCount());
  for (int i = 0; i < count; ++i) {
    CModbusTag& tag = *m_tags[i];
    bool decoded = true;
    if (m_scan.Status() == ScanStatus::Ok) {
      VariantClear(&tag.m_value);
      decoded = DecodeValue(tag, i, tag.m_value);
    }
    tagpublisher::Publish(tag, decoded ? status : OPC_STATUS_BAD_DATA_ENCODING_INVALID, arrived,
                          m_context.m_pTagObserver);
  }
  if (m_pView) m_pView->OnScanComplete();
  if (m_scan.Status() == ScanStatus::PollTimeout && m_context.m_pLink)
    m_context.m_pLink->CloseEndpoint(m_strEndpoint);
}

bool CPelmoranDoc::HandleClientWrite(int32_t hTag, VARIANT* value) {
  return HandleClientWrite(hTag, value, clientwrites::kNoToken);
}

bool CPelmoranDoc::HandleClientWrite(int32_t hTag, VARIANT* value, uint64_t token) {
  if (hTag == -1) return false;  // unpublished tags carry -1 and own no client handle
  for (int i = 0; i < GetTagCount(); ++i) {
    if (m_tags[i]->m_hTag != hTag) continue;
    m_clientWrite = {.token = token, .sent = false, .refusal = OPC_STATUS_BAD_NOT_WRITABLE};
    if (IsWritablePointType(ScanPointType())) WriteInRange(i, value);
    // A write that went out is completed by its response.
    if (!m_clientWrite.sent)
      clientwrites::Complete(m_context.m_pTagObserver, token, m_clientWrite.refusal);
    m_clientWrite = ClientWrite{};
    return true;
  }
  return false;
}

// Every path a client writes by (OPC UA, Sparkplug, JSON) comes here, so one
// table of ranges answers them all alike.
bool CPelmoranDoc::WriteInRange(int i, VARIANT* value) {
  CModbusTag& tag = *m_tags[i];
  const bool coil = ScanPointType() == PointType::Coil;
  // A coil is one bit, whatever data type its record names.
  const int32_t dataType = coil ? static_cast<int32_t>(DataType::Bit) : tag.m_nDataType;
  const uint32_t range = WriteRange::Check(dataType, tag.m_format, *value);
  if (range != OPC_STATUS_GOOD) return RefuseWrite(range);
  return coil ? WriteCoil(i, value) : WriteRegister(i, value, &tag);
}

bool CPelmoranDoc::RefuseWrite(uint32_t status) {
  m_clientWrite.refusal = status;
  return false;
}

bool CPelmoranDoc::SendWrite(int offset, const uint16_t* words, int count) {
  return SendFunction(WriteFunction(ScanPointType(), count), offset, words, count);
}

bool CPelmoranDoc::SendFunction(ModbusFunction function, int offset, const uint16_t* words,
                                int count) {
  IScanLink* link = m_context.m_pLink;
  if (!link || !link->IsEndpointConnected(m_strEndpoint))
    return RefuseWrite(OPC_STATUS_BAD_NOT_CONNECTED);
  if (count < 1 || count > kMaxWriteWords) return RefuseWrite(OPC_STATUS_BAD_OUT_OF_RANGE);
  // The register number is 16 bits on the wire: a target past 65535 would
  // wrap round to an unrelated low register, so it is never sent.
  const int registers = function == ModbusFunction::MaskWriteRegister ? 1 : count;
  if (m_scan.m_nPointAddress + offset + registers - 1 > 0xFFFF || offset < 0)
    return RefuseWrite(OPC_STATUS_BAD_OUT_OF_RANGE);
  auto request = std::make_unique<CModbusMsg>();
  request->Copy(m_scan);
  request->m_nKey = m_nKey;
  request->m_pScan = m_pResponder;
  request->m_nSlaveNode = m_scan.m_nSlaveNode;
  request->m_nPointType = static_cast<uint8_t>(function);
  request->m_nPointAddress = static_cast<uint16_t>(m_scan.m_nPointAddress + offset);
  request->m_nScanLength = static_cast<uint16_t>(count);
  std::copy_n(words, count, request->m_data);
  // Until an endpoint says otherwise: one that refuses for a reason of its
  // own sets its status, and every hand-back sets the outcome's.
  request->SetStatus(ScanStatus::ChannelNotConnected);
  if (m_clientWrite.token != clientwrites::kNoToken)
    request->m_clientWrites.push_back(m_clientWrite.token);
  if (!link->SendToEndpoint(m_strEndpoint, request.get()))
    return RefuseWrite(clientwrites::StatusOf(request->m_nStatus));
  request.release();  // the endpoint owns it now and hands it back
  m_clientWrite.sent = true;
  return true;
}
