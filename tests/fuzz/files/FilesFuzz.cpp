// Arbitrary bytes for the configuration and scan file readers. The first
// byte chooses the reader: 0xFE the journal of a save, other even ones the
// configuration file, odd a scan file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/EndpointRegistry.h"
#include "link/ModbusBinding.h"
#include "platform/MessageBox.h"
#include "pointdb/Archive.h"
#include "pointdb/DataType.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/SaveSet.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"

namespace {

int32_t g_nextHandle = 0;

// Libraries that accept everything and connect nothing.
void InstallBindings() {
  TagServerBinding& tags = TagServer();
  tags.CreateOPCTag = [](const char*, VARIANT, uint16_t, int) { return g_nextHandle++; };
  tags.UpdateOPCTag = [](int32_t, VARIANT, uint16_t) { return 0; };
  tags.RemoveOPCTag = [](int32_t) { return 0; };
  ModbusBinding& modbus = Modbus();
  modbus.ConnectASCII = [](int, int, const SerialSettings*) { return -1; };
  modbus.ConnectRTU = [](int, int, const SerialSettings*) { return -1; };
  modbus.ConnectDanielsASCII = [](int, int, const SerialSettings*) { return -1; };
  modbus.ConnectDanielsRTU = [](int, int, const SerialSettings*) { return -1; };
  modbus.ConnectTCP2 = [](uint32_t, uint32_t, const TcpOptions*) { return -1; };
  modbus.EnableModbusCallback = [](int, ModbusCallback) {};
  modbus.CloseConnection = [](int) {};
  SetMessageBoxHandler([](const std::string&, unsigned) { return 1; });
}

void ReadConfig(std::string_view bytes) {
  Runtime app;
  Archive ar(bytes);
  try {
    ConfigFile(app).Load(ar);
  } catch (const ArchiveException&) {
  }
}

// Whatever a scan file held, decoding must stay within the words a
// response carries.
void CheckTagsFit(const CPelmoranDoc& doc) {
  const CModbusMsg& scan = doc.m_scan;
  if (scan.m_nScanLength > CModbusMsg::kTravelWords) __builtin_trap();
  if (scan.m_nTagCount != static_cast<int32_t>(doc.m_tags.size())) __builtin_trap();
  for (size_t i = 0; i < doc.m_tags.size(); ++i) {
    const CModbusTag& tag = *doc.m_tags[i];
    if (!IsKnownDataType(tag.m_nDataType)) __builtin_trap();
    const size_t registers = static_cast<size_t>(doc.TagRegisters(tag));
    if ((i + 1) * registers > scan.m_nScanLength) __builtin_trap();
    // Every tag a file yields decodes and formats without reading astray.
    VARIANT value;
    if (doc.DecodeValue(tag, static_cast<int>(i), value)) VariantClear(&value);
    std::string text, type, low, high;
    doc.FormatTag(static_cast<int>(i), text, type, low, high);
  }
}

// A journal names only new files beside their own names.
void ReadJournal(std::string_view bytes) {
  for (const auto& [staged, target] : SaveSet::ReadJournal(std::string(bytes)))
    if (!staged.starts_with(target) || staged.size() <= target.size()) __builtin_trap();
}

void ReadScan(std::string_view bytes) {
  Runtime app;
  CPelmoranDoc doc(app);
  Archive ar(bytes);
  try {
    doc.Serialize(ar);
    CheckTagsFit(doc);
  } catch (const ArchiveException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool installed = (InstallBindings(), true);
  (void)installed;
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  constexpr uint8_t kJournal = 0xFE;
  if (data[0] == kJournal) {
    ReadJournal(bytes);
  } else if (data[0] % 2 == 0) {
    ReadConfig(bytes);
  } else {
    ReadScan(bytes);
  }
  return 0;
}
