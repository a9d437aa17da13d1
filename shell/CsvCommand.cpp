#include "shell/CsvCommand.h"

#include <strings.h>

#include <filesystem>

#include "pointdb/PelmoranDoc.h"
#include "runtime/ConfigFile.h"
#include "runtime/CsvConfig.h"
#include "runtime/Runtime.h"

namespace {

bool IsSwitch(const char* arg, const char* name) {
  return (arg[0] == '-' || arg[0] == '/') && strcasecmp(arg + 1, name) == 0;
}

std::string Summary(const Runtime& runtime) {
  int tags = 0;
  for (int i = 0; i < runtime.GetDocumentCount(); ++i)
    tags += runtime.m_docTemplate.GetDocument(i)->GetTagCount();
  return std::to_string(runtime.m_endpoints.m_endpoints.size()) + " endpoints, " +
         std::to_string(runtime.GetDocumentCount()) + " scans and " + std::to_string(tags) +
         " tags";
}

}  // namespace

std::optional<CsvCommand> CsvCommand::Parse(int argc, const char* const* argv) {
  if (argc < 2) return std::nullopt;
  CsvCommand command;
  if (IsSwitch(argv[1], "ExportCsv")) {
    command.kind = Kind::ExportCsv;
  } else if (IsSwitch(argv[1], "ImportCsv")) {
    command.kind = Kind::ImportCsv;
  } else {
    return std::nullopt;
  }
  if (argc > 2) command.directory = argv[2];
  return command;
}

int CsvCommand::Run(const std::string& configPath, std::ostream& out, std::ostream& err) const {
  if (directory.empty()) {
    err << "pelmoran: the command needs a directory" << std::endl;
    return 2;
  }
  Runtime runtime;
  std::string error;
  // The command has no window: what it would show in boxes goes to err.
  auto tell = [&err](const std::vector<std::string>& messages) {
    for (const std::string& text : messages) err << text << std::endl;
  };
  if (kind == Kind::ExportCsv) {
    ConfigFile file(runtime, false);
    file.RestoreConfig(configPath);
    tell(file.Messages());
    std::error_code ignored;  // a directory that cannot be made fails the export itself
    std::filesystem::create_directories(directory, ignored);
    if (CsvConfig(runtime).Export(directory, error)) {
      out << "exported " << Summary(runtime) << " to " << directory << std::endl;
      return 0;
    }
  } else {
    CsvConfig csv(runtime, false);
    const bool imported = csv.Import(directory, configPath, error);
    tell(csv.SaveMessages());
    if (imported) {
      out << "imported " << Summary(runtime) << " into " << configPath << std::endl;
      return 0;
    }
  }
  err << "pelmoran: " << error << std::endl;
  return 1;
}
