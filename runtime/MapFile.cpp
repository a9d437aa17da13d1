#include "runtime/MapFile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <map>

#include "pointdb/DiskFile.h"
#include "pointdb/MapCheck.h"
#include "pointdb/SaveSet.h"
#include "runtime/CsvTable.h"
#include "runtime/MapCsv.h"

namespace {

using Row = CsvTable::Row;

const Row kDeviceColumns = {"endpoint",       "slave",         "name",
                            "base",           "max_registers", "max_bits",
                            "max_gap",        "pause_ms",      "always_multiple_writes",
                            "default_poll_ms"};
constexpr size_t kFirstSetting = 2;
constexpr int64_t kLastSlave = 255;

std::string Text(int64_t value) { return std::to_string(value); }

std::string PathBeside(const std::string& configPath, const char* suffix) {
  const size_t slash = configPath.find_last_of('/');
  const size_t dot = configPath.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? configPath.substr(0, dot) : configPath) + "." + suffix;
}

bool Integer(const std::string& text, int64_t low, int64_t high, int32_t& out) {
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return false;
  out = static_cast<int32_t>(value);
  return true;
}

struct Setting {
  const char* key;
  int64_t low;
  int64_t high;
  std::function<void(DeviceMap&, int32_t)> put;
  std::function<int32_t(const DeviceMap&)> get;
};

const std::vector<Setting>& NumericSettings() {
  static const std::vector<Setting> settings = {
      {"base", 0, 1,
       [](DeviceMap& m, int32_t v) { m.base = v == 0 ? MapBase::ZeroBased : MapBase::OneBased; },
       [](const DeviceMap& m) { return m.base == MapBase::ZeroBased ? 0 : 1; }},
      {"max_registers", 1, 125, [](DeviceMap& m, int32_t v) { m.limits.maxRegisters = v; },
       [](const DeviceMap& m) { return m.limits.maxRegisters; }},
      {"max_bits", 1, 2000, [](DeviceMap& m, int32_t v) { m.limits.maxBits = v; },
       [](const DeviceMap& m) { return m.limits.maxBits; }},
      {"max_gap", 0, kMostGap, [](DeviceMap& m, int32_t v) { m.limits.maxGap = v; },
       [](const DeviceMap& m) { return m.limits.maxGap; }},
      {"pause_ms", 0, kMostPauseMs, [](DeviceMap& m, int32_t v) { m.limits.pauseMs = v; },
       [](const DeviceMap& m) { return m.limits.pauseMs; }},
      {"always_multiple_writes", 0, 1,
       [](DeviceMap& m, int32_t v) { m.limits.alwaysMultipleWrites = v == 1; },
       [](const DeviceMap& m) { return m.limits.alwaysMultipleWrites ? 1 : 0; }},
      {"default_poll_ms", 1, kMostPollMs,
       [](DeviceMap& m, int32_t v) { m.limits.defaultPollMs = v; },
       [](const DeviceMap& m) { return m.limits.defaultPollMs; }},
  };
  return settings;
}

Row DeviceRow(const DeviceMap& map) {
  Row row{map.endpoint, Text(map.slave), map.deviceName};
  for (const Setting& s : NumericSettings()) row.push_back(Text(s.get(map)));
  return row;
}

// Two devices of one endpoint published under one name would be one folder.
bool ReadDevice(const Row& row, const MapFile::EndpointCheck& known, std::vector<DeviceMap>& maps,
                std::string& error) {
  DeviceMap map;
  map.endpoint = row[0];
  if (map.endpoint.empty()) return (error = "the device has no endpoint", false);
  if (known && !known(map.endpoint))
    return (error = "the endpoint \"" + map.endpoint + "\" is not in the configuration", false);
  if (!Integer(row[1], 1, kLastSlave, map.slave))
    return (error = "slave \"" + row[1] + "\" is not from 1 to 255", false);
  for (size_t i = kFirstSetting; i < kDeviceColumns.size(); ++i)
    if (!MapFile::ApplySetting(kDeviceColumns[i], row[i], map, error)) return false;
  if (error = MapFile::Clash(maps, map); !error.empty()) return false;
  maps.push_back(std::move(map));
  return true;
}

bool ParseDevices(std::string_view text, const std::string& name,
                  const MapFile::EndpointCheck& known, std::vector<DeviceMap>& maps,
                  std::string& error) {
  std::vector<Row> rows;
  if (!CsvTable::Parse(text, rows, error)) return (error = name + " " + error, false);
  if (rows.empty() || rows[0] != kDeviceColumns)
    return (error = name + " row 1: the header is not that of a devices table", false);
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].size() == 1 && rows[i][0].empty()) continue;
    std::string reason;
    if (rows[i].size() != kDeviceColumns.size()) {
      reason = Text(static_cast<int64_t>(rows[i].size())) + " fields where the header has " +
               Text(static_cast<int64_t>(kDeviceColumns.size()));
    } else if (ReadDevice(rows[i], known, maps, reason)) {
      continue;
    }
    error = name + " row " + Text(static_cast<int64_t>(i + 1)) + ": " + reason;
    return false;
  }
  return true;
}

bool ReadIfThere(const std::string& path, std::string& bytes, bool& there, std::string& error) {
  std::error_code ignored;
  there = std::filesystem::exists(path, ignored);
  if (!there) return true;
  if (DiskFile::ReadAll(path, bytes, error) == DiskFile::ReadResult::ok) return true;
  error = path + " was not read: " + error;
  return false;
}

bool Wanted(const std::string& devicesPath, const std::string& mapsPath,
            const std::vector<DeviceMap>& maps) {
  std::error_code ignored;
  return !maps.empty() || std::filesystem::exists(devicesPath, ignored) ||
         std::filesystem::exists(mapsPath, ignored);
}

}  // namespace

std::string MapFile::Clash(const std::vector<DeviceMap>& maps, const DeviceMap& map,
                           bool replaces) {
  for (const DeviceMap& other : maps) {
    if (other.endpoint != map.endpoint) continue;
    if (other.slave == map.slave) {
      if (replaces) continue;
      return "the device " + map.endpoint + " slave " + std::to_string(map.slave) +
             " is given twice";
    }
    if (other.DisplayName() == map.DisplayName())
      return "the name \"" + map.DisplayName() + "\" is that of another device of " + map.endpoint;
  }
  return "";
}

std::string MapFile::DevicesPathOf(const std::string& configPath) {
  return PathBeside(configPath, kDevicesFile);
}

std::string MapFile::MapsPathOf(const std::string& configPath) {
  return PathBeside(configPath, kMapsFile);
}

bool MapFile::ApplySetting(const std::string& key, const std::string& value, DeviceMap& map,
                           std::string& error) {
  if (key == "name") {
    if (std::any_of(value.begin(), value.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
      return (error = "name \"" + value + "\" holds a control character", false);
    map.deviceName = value;
    return true;
  }
  for (const Setting& s : NumericSettings()) {
    if (key != s.key) continue;
    int32_t number = 0;
    if (!Integer(value, s.low, s.high, number))
      return (error = key + " \"" + value + "\" is not a whole number from " + Text(s.low) +
                      " to " + Text(s.high),
              false);
    s.put(map, number);
    return true;
  }
  error = "\"" + key + "\" is no device setting";
  return false;
}

bool MapFile::Parse(std::string_view devices, const std::string& devicesName, std::string_view tags,
                    const std::string& tagsName, std::vector<DeviceMap>& maps, std::string& error,
                    const EndpointCheck& known) {
  std::vector<DeviceMap> read;
  if (!ParseDevices(devices, devicesName, known, read, error)) return false;
  if (!tags.empty() && !MapCsv::ReadAll(tags, tagsName, read, error)) return false;
  maps = std::move(read);
  return true;
}

bool MapFile::Load(const std::string& devicesPath, const std::string& mapsPath,
                   std::vector<DeviceMap>& maps, std::string& error, const EndpointCheck& known) {
  std::string devices, tags;
  bool devicesThere = false, tagsThere = false;
  if (!ReadIfThere(devicesPath, devices, devicesThere, error) ||
      !ReadIfThere(mapsPath, tags, tagsThere, error))
    return false;
  if (!devicesThere) {
    maps.clear();
    return true;
  }
  auto nameOf = [](const std::string& path) { return path.substr(path.find_last_of('/') + 1); };
  return Parse(devices, nameOf(devicesPath), tags, nameOf(mapsPath), maps, error, known);
}

std::string MapFile::WriteDevices(const std::vector<DeviceMap>& maps) {
  std::vector<Row> rows{kDeviceColumns};
  for (const DeviceMap& map : maps) rows.push_back(DeviceRow(map));
  return CsvTable::Format(rows);
}

bool MapFile::Stage(SaveSet& set, const std::string& devicesPath, const std::string& mapsPath,
                    const std::vector<DeviceMap>& maps, std::string& error) {
  if (!Wanted(devicesPath, mapsPath, maps)) return true;
  return set.Stage(devicesPath, WriteDevices(maps), error) &&
         set.Stage(mapsPath, MapCsv::WriteAll(maps), error);
}

bool MapFile::Write(const std::string& devicesPath, const std::string& mapsPath,
                    const std::vector<DeviceMap>& maps, std::string& error) {
  if (!Wanted(devicesPath, mapsPath, maps)) return true;
  for (const auto& [path, bytes] :
       {std::pair{devicesPath, WriteDevices(maps)}, std::pair{mapsPath, MapCsv::WriteAll(maps)}}) {
    DiskFile file;
    if (!file.Create(path) || !file.Commit(bytes)) {
      error = path + " was not written: " + file.GetError();
      return false;
    }
  }
  return true;
}
