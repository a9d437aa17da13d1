// The register maps of a configuration, kept beside its configuration file
// as two CSV files: "<name>.devices.csv", one row a device with its settings,
// and "<name>.maps.csv", one row a tag, each led by its device's endpoint and
// slave (MapCsv.h). They are written only for a configuration that has maps,
// or had them, so the files of one without maps stay as they always were;
// they are saved in the same save set as the configuration file.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pointdb/RegisterMap.h"

class SaveSet;

class MapFile {
 public:
  static constexpr const char* kDevicesFile = "devices.csv";
  static constexpr const char* kMapsFile = "maps.csv";

  // "<directory>/<name>.devices.csv" for "<directory>/<name>.tst".
  static std::string DevicesPathOf(const std::string& configPath);
  static std::string MapsPathOf(const std::string& configPath);

  // Whether an endpoint of that name is there; null: any endpoint is.
  using EndpointCheck = std::function<bool(const std::string& endpoint)>;

  // Both files read and every row checked; no devices file: no maps. False
  // with "<file> row <n>: <reason>", or the file and why it was not read.
  static bool Load(const std::string& devicesPath, const std::string& mapsPath,
                   std::vector<DeviceMap>& maps, std::string& error,
                   const EndpointCheck& known = nullptr);
  // The same from the files' text; names are for the messages.
  static bool Parse(std::string_view devices, const std::string& devicesName, std::string_view tags,
                    const std::string& tagsName, std::vector<DeviceMap>& maps, std::string& error,
                    const EndpointCheck& known = nullptr);
  static std::string WriteDevices(const std::vector<DeviceMap>& maps);
  // Stages both files, when there are maps or the files are there already.
  static bool Stage(SaveSet& set, const std::string& devicesPath, const std::string& mapsPath,
                    const std::vector<DeviceMap>& maps, std::string& error);
  // Writes both files whole, under the same rule.
  static bool Write(const std::string& devicesPath, const std::string& mapsPath,
                    const std::vector<DeviceMap>& maps, std::string& error);

  // Why map cannot join maps beside the other devices (the same device
  // twice, or a name another device of its endpoint is published under);
  // empty when it can. The device map replaces is passed over.
  static std::string Clash(const std::vector<DeviceMap>& maps, const DeviceMap& map,
                           bool replaces = false);

  // One setting of the devices table by its column name (name, base,
  // max_registers, max_bits, max_gap, pause_ms, always_multiple_writes,
  // default_poll_ms); false with the reason.
  static bool ApplySetting(const std::string& key, const std::string& value, DeviceMap& map,
                           std::string& error);
};
