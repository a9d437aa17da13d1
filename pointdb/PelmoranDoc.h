// One scan document: the scan record, its tags, and its run-time cycle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "pointdb/ModbusFunction.h"
#include "pointdb/ModbusMsg.h"
#include "pointdb/ModbusTag.h"
#include "pointdb/ScanCounters.h"
#include "pointdb/TagPublisher.h"

class Archive;
class IRequestSink;
class IScanView;
class ITagObserver;
struct ScanContext;

class CPelmoranDoc {
 public:
  // Builds the scan from the context's pending definition and default
  // register configuration, and publishes its tags with quality 0. The
  // context outlives the document.
  explicit CPelmoranDoc(ScanContext& context);
  // Removes every published tag from the tag server.
  virtual ~CPelmoranDoc();
  CPelmoranDoc(const CPelmoranDoc&) = delete;
  CPelmoranDoc& operator=(const CPelmoranDoc&) = delete;

  // Naming and access (by tag index).
  std::string GetTagName(int i) const;
  CModbusTag* GetTag(int i) const;
  int GetTagCount() const;
  // Point address of tag i less the scan's. A two-word type takes two
  // registers a tag, except in the Daniels/ENRON 32-bit ranges (5001-5999,
  // 7001-7999 on a Daniels serial endpoint), where one register holds both
  // words: there tag i is register i, so its name, value and writes agree.
  int TagPointOffset(int i, int registers) const;
  // Registers tag i takes: its data type's, one on a bit point.
  int TagRegisters(const CModbusTag& tag) const;
  bool HasWideRegisters() const;

  // Data types.
  float DecodeTag(const CModbusTag* tag, int i) const;
  // The value tag i publishes, of the type its data type publishes; false
  // when its registers hold no value of the type.
  bool DecodeValue(const CModbusTag& tag, int i, VARIANT& value) const;
  // Gives tag i another data type, limits and format; a tag whose values
  // change type is published anew.
  void SetTagFormat(int i, int32_t dataType, float low, float high, const TagFormat& format);
  void FormatTag(int i, std::string& value, std::string& type, std::string& low,
                 std::string& high) const;
  // The texts of tag i as the last good answer left them, whatever the
  // scan's status now: its value as last published (empty before any), its
  // type and limits as they are.
  void FormatLastGood(int i, std::string& value, std::string& type, std::string& low,
                      std::string& high) const;
  bool WriteInRange(int i, VARIANT* value);
  bool WriteCoil(int i, VARIANT* value);
  bool WriteRegister(int i, VARIANT* value, CModbusTag* tag);

  // Poll cycle and client writes.
  int Poll();
  void OnScanResponse(CModbusMsg* request);  // takes ownership
  bool HandleClientWrite(int32_t hTag, VARIANT* value);
  // The same, answering its client: the token is completed with how the write
  // ended, at once when it is refused here, else when its response comes back.
  bool HandleClientWrite(int32_t hTag, VARIANT* value, uint64_t token);
  bool SendWrite(int offset, const uint16_t* words, int count);

  // What the context's tag observer learns of the scan's tags.
  tagpublisher::TagSource TagSource() const;
  // Tells observer of every published tag as it stands: for an observer
  // that comes when the tags are there already.
  void AnnounceTags(ITagObserver& observer) const;

  // Scan file storing and loading.
  void Serialize(Archive& ar);

  CModbusMsg m_scan;
  std::string m_strEndpoint;
  int32_t m_nKey;
  int32_t m_nNumbrPolls;
  // When the last good answer arrived, as OPC UA stamps time; 0 before one.
  int64_t m_lastGoodTime = 0;
  ScanCounters m_counters;
  // When the poll in progress went out (steady clock, ms); -1 when none is.
  int64_t m_pollSentMs = -1;
  std::vector<std::unique_ptr<CModbusTag>> m_tags;

  ScanContext& m_context;
  // What the framework keeps of a document: its file and its title.
  std::string m_strPathName;
  std::string m_strTitle;
  // The document's (first) view; null until the template gives it one.
  IScanView* m_pView = nullptr;

 private:
  // The client write in hand while HandleClientWrite converts and sends it.
  struct ClientWrite {
    uint64_t token = 0;
    bool sent = false;
    uint32_t refusal = 0;  // the status its client gets when it is not sent
  };

  std::vector<uint16_t> TagWords(int i, int registers) const;
  bool WriteEncoded(int i, const VARIANT& value, const CModbusTag& tag);
  bool WriteBit(int i, const VARIANT& value, const CModbusTag& tag);
  bool SendFunction(ModbusFunction function, int offset, const uint16_t* words, int count);
  // A mask write the device does not know (exception 01) is sent again as a
  // read-modify-write, as every later bit write of the scan is; true when the
  // answer was such a refusal.
  bool RetryRefusedMaskWrite(CModbusMsg& answer);
  // Records why the write in hand goes nowhere; false, for the caller to return.
  bool RefuseWrite(uint32_t status);
  PointType ScanPointType() const { return static_cast<PointType>(m_scan.m_nPointType); }

  ClientWrite m_clientWrite;
  // The scan's device answered a mask write with exception 01.
  bool m_bMaskWriteRefused = false;
  // What every request of the scan carries back to it; it goes with the
  // document, so a request still out when the scan closes finds it expired.
  std::shared_ptr<IRequestSink> m_pResponder;
};
