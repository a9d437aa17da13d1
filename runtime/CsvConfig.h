// The whole configuration as three CSV files in one directory, for engineers
// who keep their tag lists in spreadsheets: endpoints.csv (the endpoints with
// every setting the configuration file keeps), scans.csv (one row a scan) and
// tags.csv (one row a tag). What is exported imports back unchanged.
#pragma once

#include <string>
#include <vector>

class Runtime;

class CsvConfig {
 public:
  static constexpr const char* kEndpointsFile = "endpoints.csv";
  static constexpr const char* kScansFile = "scans.csv";
  static constexpr const char* kTagsFile = "tags.csv";

  // connect false: imported endpoints are not connected, for a one-shot
  // command that reaches no device.
  explicit CsvConfig(Runtime& runtime, bool connect = true);

  // Writes the three files into directory, each replacing its old file
  // whole; false with the reason (a scan never saved has no file name to be
  // known by).
  bool Export(const std::string& directory, std::string& error) const;
  // Reads and checks every row of the three files in directory before
  // anything running is touched; a bad row refuses the whole import with
  // "<file> row <n>: <reason>". Otherwise the running configuration is
  // replaced, as a restore replaces it, and saved to configPath with its scan
  // files; false with the reason when that save failed.
  bool Import(const std::string& directory, const std::string& configPath, std::string& error);
  // What that save had to tell the operator before the reason, in order.
  const std::vector<std::string>& SaveMessages() const { return m_saveMessages; }

 private:
  Runtime& m_runtime;
  bool m_bConnect;
  std::vector<std::string> m_saveMessages;
};
