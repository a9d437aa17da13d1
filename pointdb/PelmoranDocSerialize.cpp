// Storing and loading a scan document's file.
#include <cmath>
#include <string>
#include <vector>

#include "pointdb/Archive.h"
#include "pointdb/DataType.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/PointType.h"
#include "pointdb/ScanContext.h"
#include "pointdb/ScanFile.h"
#include "pointdb/ScanView.h"
#include "pointdb/TagPublisher.h"
#include "pointdb/TagServerBinding.h"

namespace {

const std::string kVersion1 = "1.00";
const std::string kVersion2 = "2.00";
const std::string kVersion3 = "3.00";
// Written only for a scan that one of its tags needs it for, so that scans
// of the classic types stay readable by older programs.
const std::string kVersion4 = "4.00";

constexpr int kTagRecordBytes = 16;
// Bit, string registers, scaled flag, and the four scale numbers.
constexpr int kTagFormatBytes = 3 * 4 + 4 * 8;
constexpr int32_t kUnsigned = static_cast<int32_t>(DataType::Unsigned);
constexpr int32_t kReadAsStored = -1;

struct TagRecord {
  int32_t nPointType;
  int32_t nDataType;
  float fLowLimit;
  float fHighLimit;
  TagFormat format;
  // The data type of the record when the tag is read as another one.
  int32_t nFileDataType = kReadAsStored;
};

// What a scan file holds, read completely before any of it is used.
struct ScanRecord {
  std::string strEndpoint;
  std::string strDelimiter;
  int32_t nPort;
  uint8_t nSlaveNode;
  uint8_t nPointType;
  uint16_t nPointAddress;
  uint16_t nScanLength;
  int32_t nPollFrequency;
  std::vector<TagRecord> tags;
};

// A coil or input is one point a tag: a 32-bit type would name point 2i while
// the row and the writes use point i, and decode two bits as one number. Such
// tags of older files are read as UNSIGNED, as a new bit scan makes them.
void ReadBitTagsAsUnsigned(ScanRecord& scan) {
  if (!IsBitPointType(static_cast<PointType>(scan.nPointType))) return;
  for (auto& tag : scan.tags) {
    if (tag.nDataType == kUnsigned || !IsKnownDataType(tag.nDataType)) continue;
    if (RegistersOf(tag.nDataType, tag.format) == 1 && IsClassicDataType(tag.nDataType)) continue;
    tag.nFileDataType = tag.nDataType;
    tag.nDataType = kUnsigned;
  }
}

void Refuse(const std::string& reason) {
  throw ArchiveException(ArchiveException::badSchema, reason);
}

void CheckFormat(const TagFormat& format, size_t i) {
  const std::string tag = "tag " + std::to_string(i);
  if (format.bit < 0 || format.bit > 15) {
    Refuse(tag + " has the bit number " + std::to_string(format.bit) + ", which is not 0 to 15");
  }
  if (format.stringRegisters < 1 || format.stringRegisters > TagFormat::kMaxStringRegisters) {
    Refuse(tag + " has a string of " + std::to_string(format.stringRegisters) +
           " registers, not 1 to " + std::to_string(TagFormat::kMaxStringRegisters));
  }
  for (double limit : {format.rawLow, format.rawHigh, format.engLow, format.engHigh}) {
    if (!std::isfinite(limit)) Refuse(tag + " has a scale limit that is not a finite number");
  }
}

void ReadFormat(Archive& ar, TagFormat& format) {
  int32_t scaled = 0;
  ar >> format.bit >> format.stringRegisters >> scaled >> format.rawLow >> format.rawHigh >>
      format.engLow >> format.engHigh;
  if (scaled != 0 && scaled != 1)
    Refuse("its scale flag " + std::to_string(scaled) + " is not 0 or 1");
  format.scaled = scaled == 1;
}

void StoreFormat(Archive& ar, const TagFormat& format) {
  ar << format.bit << format.stringRegisters << static_cast<int32_t>(format.scaled ? 1 : 0)
     << format.rawLow << format.rawHigh << format.engLow << format.engHigh;
}

// Decoding reads the words of every tag from the response; a tag beyond the
// scan length, or beyond the words a response carries, would read words the
// device never sent.
void CheckScan(const ScanRecord& scan) {
  if (!IsKnownPointType(scan.nPointType)) {
    Refuse("its point type " + std::to_string(scan.nPointType) + " is not one of 1 to 4");
  }
  if (scan.nScanLength > CModbusMsg::kTravelWords) {
    Refuse("its scan length " + std::to_string(scan.nScanLength) + " is above " +
           std::to_string(CModbusMsg::kTravelWords));
  }
  for (size_t i = 0; i < scan.tags.size(); ++i) {
    const int32_t dataType = scan.tags[i].nDataType;
    if (!IsKnownDataType(dataType)) {
      Refuse("tag " + std::to_string(i) + " has the data type " + std::to_string(dataType) +
             ", which is not one of 0 to " + std::to_string(kLastDataType));
    }
    CheckFormat(scan.tags[i].format, i);
    const int registers = RegistersOf(dataType, scan.tags[i].format);
    const int64_t lastWord = static_cast<int64_t>(i) * registers + registers - 1;
    if (lastWord >= scan.nScanLength) {
      Refuse("its " + std::to_string(scan.tags.size()) + " tags do not fit in the scan length " +
             std::to_string(scan.nScanLength));
    }
  }
}

// A "3.00" file carries the first eight types only; a higher number is
// damage, not one of the types "4.00" added.
void CheckClassic(const ScanRecord& scan) {
  for (size_t i = 0; i < scan.tags.size(); ++i) {
    const int32_t dataType = scan.tags[i].nDataType;
    if (!IsClassicDataType(dataType)) {
      Refuse("tag " + std::to_string(i) + " has the data type " + std::to_string(dataType) +
             ", which is not one of 0 to 7");
    }
  }
}

ScanRecord ReadScan(Archive& ar, const std::string& version, const CPelmoranDoc& doc) {
  ScanRecord scan;
  scan.strEndpoint = doc.m_strEndpoint;
  const bool extended = version == kVersion4;
  if (version == kVersion3 || extended) ar >> scan.strEndpoint;
  if (version == kVersion1) {
    scan.strDelimiter = ".";
  } else {
    ar >> scan.strDelimiter;
  }
  ar >> scan.nPort >> scan.nSlaveNode >> scan.nPointType >> scan.nPointAddress >>
      scan.nScanLength >> scan.nPollFrequency;
  scan.tags.resize(
      static_cast<size_t>(ar.ReadCount(kTagRecordBytes + (extended ? kTagFormatBytes : 0))));
  for (auto& tag : scan.tags) {
    ar >> tag.nPointType >> tag.nDataType >> tag.fLowLimit >> tag.fHighLimit;
    if (extended) ReadFormat(ar, tag.format);
  }
  if (!extended) CheckClassic(scan);
  ReadBitTagsAsUnsigned(scan);
  CheckScan(scan);
  return scan;
}

void RemoveTags(CPelmoranDoc& doc) {
  doc.m_context.m_tagOwners.RemoveScan(doc);
  for (const auto& tag : doc.m_tags) tagpublisher::Remove(*tag, doc.m_context.m_pTagObserver);
  doc.m_tags.clear();
}

void PublishTags(CPelmoranDoc& doc, const std::vector<TagRecord>& records) {
  const tagpublisher::TagSource source = doc.TagSource();
  for (size_t i = 0; i < records.size(); ++i) {
    auto tag = std::make_unique<CModbusTag>();
    tag->m_nPointType = records[i].nPointType;
    tag->m_nDataType = records[i].nDataType;
    tag->m_fLowLimit = records[i].fLowLimit;
    tag->m_fHighLimit = records[i].fHighLimit;
    tag->m_format = records[i].format;
    // The next Data New starts from the data type of the last tag loaded,
    // with the bit, string length and scale that type was read with.
    doc.m_context.m_nDefaultDataType = tag->m_nDataType;
    doc.m_context.m_defaultFormat = tag->m_format;
    const std::string name = doc.m_scan.MakeTagName(
        doc.TagPointOffset(static_cast<int>(i), doc.TagRegisters(*tag)), doc.m_strEndpoint);
    tagpublisher::Create(*tag, name, OPC_QUALITY_GOOD, source);
    doc.m_context.m_tagOwners.Add(tag->m_hTag, doc);
    doc.m_tags.push_back(std::move(tag));
  }
}

void ApplyScan(CPelmoranDoc& doc, const ScanRecord& scan) {
  doc.m_strEndpoint = scan.strEndpoint;
  doc.m_scan.m_strDelimiter = scan.strDelimiter;
  doc.m_scan.m_nPort = scan.nPort;
  doc.m_scan.m_nSlaveNode = scan.nSlaveNode;
  doc.m_scan.m_nPointType = scan.nPointType;
  doc.m_scan.m_nPointAddress = scan.nPointAddress;
  doc.m_scan.m_nScanLength = scan.nScanLength;
  doc.m_scan.m_nPollFrequency = scan.nPollFrequency;
  if (doc.m_pView != nullptr) doc.m_pView->SetPollFrequency(scan.nPollFrequency);
  RemoveTags(doc);
  doc.m_scan.m_nTagCount = static_cast<int32_t>(scan.tags.size());
  PublishTags(doc, scan.tags);
  for (size_t i = 0; i < scan.tags.size(); ++i) {
    doc.m_tags[i]->m_nFileDataType = scan.tags[i].nFileDataType;
  }
}

bool NeedsExtendedFile(const CPelmoranDoc& doc) {
  for (const auto& tag : doc.m_tags) {
    if (NeedsExtendedFile(tag->FileDataType(), tag->m_format)) return true;
  }
  return false;
}

void StoreScan(Archive& ar, const CPelmoranDoc& doc) {
  const CModbusMsg& scan = doc.m_scan;
  const bool extended = NeedsExtendedFile(doc);
  ar << (extended ? kVersion4 : kVersion3) << doc.m_strEndpoint << scan.m_strDelimiter
     << scan.m_nPort << scan.m_nSlaveNode << scan.m_nPointType << scan.m_nPointAddress
     << scan.m_nScanLength << scan.m_nPollFrequency;
  ar << static_cast<int32_t>(doc.m_tags.size());
  for (const auto& tag : doc.m_tags) {
    ar << tag->m_nPointType << tag->FileDataType() << tag->m_fLowLimit << tag->m_fHighLimit;
    if (extended) StoreFormat(ar, tag->m_format);
  }
}

}  // namespace

// A file of another version is passed over: the document keeps the scan its
// constructor built. Any other fault throws before the document is touched.
void CPelmoranDoc::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    StoreScan(ar, *this);
    return;
  }
  std::string version;
  ar >> version;
  if (!IsReadableScanVersion(version)) return;
  ApplyScan(*this, ReadScan(ar, version, *this));
}

bool IsReadableScanVersion(const std::string& version) {
  return version == kVersion1 || version == kVersion2 || version == kVersion3 ||
         version == kVersion4;
}
