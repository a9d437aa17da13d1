// The program's settings that the configuration and scan files do not hold,
// one text file in the configuration directory ("pelmoran.ini"), read alike
// with or without windows:
//
//   [Demotion]
//   Timeouts=3
//   HoldSeconds=10
//
// Lines are "key=value" under a "[section]"; blank lines and lines starting
// with ';' or '#' are skipped. Writing keeps every other line as it was.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "link/DeviceDemotion.h"
#include "runtime/HttpSettings.h"

class SettingsFile {
 public:
  static constexpr const char* kFileName = "pelmoran.ini";

  // A file that is missing or cannot be read holds nothing.
  static SettingsFile Load(const std::string& path);
  static SettingsFile Parse(const std::string& text);
  std::string Text() const;
  // False when the file could not be written whole. It may hold a password:
  // only its owner may read it, and it is replaced whole or not at all.
  bool Save(const std::string& path) const;

  // The value, or fallback when the key is missing or its value is not a
  // whole number within [low, high].
  int GetInt(const std::string& section, const std::string& key, int fallback, int low,
             int high) const;
  void SetInt(const std::string& section, const std::string& key, int value);
  // The value with its blanks trimmed, or fallback when the key is missing.
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& fallback) const;
  // Every key of the section with its trimmed value, in the file's order.
  std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;
  // A line break would end the line: the value is cut at the first one.
  void SetString(const std::string& section, const std::string& key, const std::string& value);

  DemotionPolicy GetDemotionPolicy() const;
  void SetDemotionPolicy(const DemotionPolicy& policy);
  // [Http]; a value out of range keeps its default.
  HttpSettings GetHttpSettings() const;
  void SetHttpSettings(const HttpSettings& settings);

 private:
  struct Line {
    std::string section;  // the section it lies in
    std::string key;      // empty for a section header, comment or blank line
    std::string text;     // the line as it is written
  };

  const Line* Find(const std::string& section, const std::string& key) const;

  std::vector<Line> m_lines;
};
