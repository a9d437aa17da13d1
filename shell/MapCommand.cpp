#include "shell/MapCommand.h"

#include <strings.h>

#include <charconv>

#include "pointdb/DiskFile.h"
#include "pointdb/ReadPlanner.h"
#include "runtime/ConfigFile.h"
#include "runtime/MapCsv.h"
#include "runtime/MapFile.h"
#include "runtime/PlanReport.h"
#include "runtime/Runtime.h"

namespace {

constexpr int kRefused = 1;
constexpr int kUsage = 2;
constexpr int64_t kLastSlave = 255;

bool IsSwitch(const char* arg, const char* name) {
  return (arg[0] == '-' || arg[0] == '/') && strcasecmp(arg + 1, name) == 0;
}

bool ReadSlave(const std::string& text, int32_t& slave) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), slave);
  return ec == std::errc() && end == text.data() + text.size() && slave >= 1 && slave <= kLastSlave;
}

// SETTING=VALUE arguments, in order, onto the device's settings.
bool ApplySettings(const std::vector<std::string>& settings, DeviceMap& map, std::string& error) {
  for (const std::string& setting : settings) {
    const size_t equals = setting.find('=');
    if (equals == std::string::npos)
      return (error = "\"" + setting + "\" is not SETTING=VALUE", false);
    if (!MapFile::ApplySetting(setting.substr(0, equals), setting.substr(equals + 1), map, error))
      return false;
  }
  return true;
}

// The device's map as the command gives it: its settings stay as they were
// unless the command gives them, its tags are the file's.
bool ImportedMap(const Runtime& runtime, const std::vector<std::string>& arguments,
                 const std::string& configPath, DeviceMap& map, std::string& error) {
  map.endpoint = arguments[0];
  if (!ReadSlave(arguments[1], map.slave))
    return (error = "slave \"" + arguments[1] + "\" is not from 1 to 255", false);
  if (runtime.m_endpoints.FindEndpoint(map.endpoint) == nullptr)
    return (error = "the endpoint \"" + map.endpoint + "\" is not in " + configPath, false);
  if (const DeviceMap* old = runtime.m_deviceMaps.Find(map.endpoint, map.slave)) map = *old;
  if (!ApplySettings({arguments.begin() + 3, arguments.end()}, map, error)) return false;
  if (error = MapFile::Clash(runtime.m_deviceMaps.All(), map, true); !error.empty()) return false;
  const std::string& path = arguments[2];
  std::string bytes;
  if (DiskFile::ReadAll(path, bytes, error) != DiskFile::ReadResult::ok)
    return (error = path + " was not read: " + error, false);
  return MapCsv::Read(bytes, path, map, error);
}

}  // namespace

std::optional<MapCommand> MapCommand::Parse(int argc, const char* const* argv) {
  if (argc < 2) return std::nullopt;
  MapCommand command;
  if (IsSwitch(argv[1], "Plan")) {
    command.kind = Kind::Plan;
  } else if (IsSwitch(argv[1], "ImportMap")) {
    command.kind = Kind::ImportMap;
  } else if (IsSwitch(argv[1], "ExportMap")) {
    command.kind = Kind::ExportMap;
  } else {
    return std::nullopt;
  }
  command.arguments.assign(argv + 2, argv + argc);
  return command;
}

int MapCommand::Run(const std::string& configPath, std::ostream& out, std::ostream& err) const {
  const size_t needed = kind == Kind::Plan ? 0 : 3;
  if (arguments.size() < needed || (kind == Kind::ExportMap && arguments.size() > needed)) {
    err << "pelmoran: the command needs " << (needed == 0 ? "no arguments" : "ENDPOINT SLAVE FILE")
        << std::endl;
    return kUsage;
  }
  Runtime runtime;
  ConfigFile file(runtime, false);
  file.RestoreConfig(configPath);
  for (const std::string& text : file.Messages()) err << text << std::endl;
  switch (kind) {
    case Kind::Plan: return Plan(runtime, out);
    case Kind::ImportMap:
      // Saving what was restored in part would lose the rest.
      if (!file.Messages().empty()) {
        err << "pelmoran: " << configPath << " was not restored whole; nothing was changed"
            << std::endl;
        return kRefused;
      }
      return Import(runtime, configPath, out, err);
    case Kind::ExportMap: return Export(runtime, out, err);
  }
  return kUsage;
}

int MapCommand::Plan(const Runtime& runtime, std::ostream& out) const {
  if (runtime.m_deviceMaps.All().empty()) out << "no device has a register map" << std::endl;
  for (const DeviceMap& map : runtime.m_deviceMaps.All()) out << DescribePlan(map, PlanReads(map));
  return 0;
}

int MapCommand::Import(Runtime& runtime, const std::string& configPath, std::ostream& out,
                       std::ostream& err) const {
  DeviceMap map;
  std::string error;
  if (!ImportedMap(runtime, arguments, configPath, map, error)) {
    err << "pelmoran: " << error << std::endl;
    return kRefused;
  }
  runtime.m_deviceMaps.Put(map);
  ConfigFile file(runtime, false);
  if (!file.SaveTestConfig(configPath)) {
    for (const std::string& text : file.Messages()) err << text << std::endl;
    err << "pelmoran: " << configPath << " was not saved" << std::endl;
    return kRefused;
  }
  out << "imported " << map.tags.size() << " tags for " << map.endpoint << " slave " << map.slave
      << " into " << configPath << std::endl;
  return 0;
}

int MapCommand::Export(const Runtime& runtime, std::ostream& out, std::ostream& err) const {
  int32_t slave = 0;
  const DeviceMap* map =
      ReadSlave(arguments[1], slave) ? runtime.m_deviceMaps.Find(arguments[0], slave) : nullptr;
  if (map == nullptr) {
    err << "pelmoran: " << arguments[0] << " slave " << arguments[1] << " has no register map"
        << std::endl;
    return kRefused;
  }
  DiskFile file;
  if (!file.Create(arguments[2]) || !file.Commit(MapCsv::Write(*map))) {
    err << "pelmoran: " << arguments[2] << " was not written: " << file.GetError() << std::endl;
    return kRefused;
  }
  out << "exported " << map->tags.size() << " tags of " << map->endpoint << " slave " << map->slave
      << " to " << arguments[2] << std::endl;
  return 0;
}
