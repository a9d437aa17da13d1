#include "web/ConfigApi.h"

#include <stdlib.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "runtime/CsvConfig.h"
#include "runtime/SettingsFile.h"
#include "web/ConfigTables.h"

namespace web {

namespace {

namespace fs = std::filesystem;

// A folder of its own for one export, removed with it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "pelmoran-api-XXXXXX").string();
    if (mkdtemp(pattern.data())) m_path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!m_path.empty()) fs::remove_all(m_path, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The running configuration's tables, exported into folder.
bool Export(Runtime& runtime, const ScratchFolder& folder, ConfigTables& tables,
            ConfigAnswer& answer) {
  std::string error = folder.Path().empty() ? "no folder for the export" : "";
  if (error.empty() && CsvConfig(runtime).Export(folder.Path(), error) &&
      tables.Read(folder.Path(), error))
    return true;
  answer = {409, error};
  return false;
}

nlohmann::json SectionJson(const SettingsFile& file, const char* section) {
  nlohmann::json object = nlohmann::json::object();
  for (const auto& [key, value] : file.Section(section))
    object[key] = key == "Password" ? std::string("(set)") : value;
  return object;
}

}  // namespace

ConfigAnswer ConfigApi::Read(Runtime& runtime, const ProgramFigures& figures) {
  ScratchFolder folder;
  ConfigTables tables;
  ConfigAnswer answer;
  if (!Export(runtime, folder, tables, answer)) return answer;
  nlohmann::json document = nlohmann::json::parse(tables.Json());
  const SettingsFile settings = SettingsFile::Load(figures.settingsPath);
  document["mqtt"] = SectionJson(settings, "Mqtt");
  document["opcua"] = SectionJson(settings, "OpcUa");
  answer.text = document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return answer;
}

ConfigAnswer ConfigApi::Change(Runtime& runtime, const ProgramFigures& figures,
                               const std::string& table, const std::string& key,
                               const std::string& body) {
  ScratchFolder folder;
  ConfigTables tables;
  ConfigAnswer answer;
  if (!Export(runtime, folder, tables, answer)) return answer;
  std::string error;
  if (!tables.Merge(table, key, body, error)) return {400, error};
  if (!tables.Write(folder.Path(), error)) return {409, error};
  CsvConfig import(runtime);
  if (!import.Import(folder.Path(), figures.configPath, error)) return {422, error};
  answer.text = tables.Row(table, key);
  return answer;
}

}  // namespace web
