// Arbitrary bytes for the register map intake: a device's map as an operator
// imports it (the first byte picks the map's base), and the two map files a
// configuration keeps (split at the first NUL). Whatever is accepted must be
// a map the checks pass, and must write back as text that reads as the same
// map; whatever is refused must be refused with the file's name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pointdb/MapCheck.h"
#include "runtime/MapCsv.h"
#include "runtime/MapFile.h"

namespace {

void DeviceMapOf(std::string_view text, MapBase base) {
  DeviceMap map;
  map.endpoint = "E";
  map.base = base;
  std::string error;
  if (!MapCsv::Read(text, "m.csv", map, error)) {
    if (error.rfind("m.csv", 0) != 0) __builtin_trap();
    return;
  }
  MapFault fault;
  if (!CheckDeviceMap(map, fault)) __builtin_trap();
  DeviceMap again = map;
  if (!MapCsv::Read(MapCsv::Write(map), "again.csv", again, error) || again != map)
    __builtin_trap();
}

void MapFilesOf(std::string_view text) {
  const size_t nul = text.find('\0');
  if (nul == std::string_view::npos) return;
  std::vector<DeviceMap> maps;
  std::string error;
  if (!MapFile::Parse(text.substr(0, nul), "d.csv", text.substr(nul + 1), "t.csv", maps, error)) {
    if (error.rfind("d.csv", 0) != 0 && error.rfind("t.csv", 0) != 0) __builtin_trap();
    return;
  }
  std::vector<DeviceMap> again;
  if (!MapFile::Parse(MapFile::WriteDevices(maps), "d.csv", MapCsv::WriteAll(maps), "t.csv", again,
                      error) ||
      again != maps)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  DeviceMapOf(text, (data[0] & 1) != 0 ? MapBase::ZeroBased : MapBase::OneBased);
  MapFilesOf(text);
  return 0;
}
