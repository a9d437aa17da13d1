#include "runtime/SettingsFile.h"

#include <sys/stat.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/ReplaceFile.h"

namespace {

constexpr const char* kDemotion = "Demotion";
constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
constexpr int kHighestPort = 65535;

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

SettingsFile SettingsFile::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

SettingsFile SettingsFile::Parse(const std::string& text) {
  SettingsFile file;
  std::istringstream in(text);
  std::string section;
  for (std::string raw; std::getline(in, raw);) {
    std::string line = Trim(raw);
    Line entry{section, "", raw};
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = Trim(line.substr(1, line.size() - 2));
      entry.section = section;
    } else if (!line.empty() && line[0] != ';' && line[0] != '#') {
      size_t equals = line.find('=');
      if (equals != std::string::npos) entry.key = Trim(line.substr(0, equals));
    }
    file.m_lines.push_back(entry);
  }
  return file;
}

std::string SettingsFile::Text() const {
  std::string text;
  for (const Line& line : m_lines) text += line.text + "\n";
  return text;
}

bool SettingsFile::Save(const std::string& path) const {
  return ReplaceFile(path, Text(), kOwnerOnly);
}

const SettingsFile::Line* SettingsFile::Find(const std::string& section,
                                             const std::string& key) const {
  for (const Line& line : m_lines)
    if (line.section == section && line.key == key) return &line;
  return nullptr;
}

int SettingsFile::GetInt(const std::string& section, const std::string& key, int fallback, int low,
                         int high) const {
  const Line* line = Find(section, key);
  if (!line) return fallback;
  std::string value = Trim(line->text.substr(line->text.find('=') + 1));
  int number = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size()) return fallback;
  return number < low || number > high ? fallback : number;
}

std::string SettingsFile::GetString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
  const Line* line = Find(section, key);
  return line ? Trim(line->text.substr(line->text.find('=') + 1)) : fallback;
}

std::vector<std::pair<std::string, std::string>> SettingsFile::Section(
    const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> keys;
  for (const Line& line : m_lines)
    if (line.section == section && !line.key.empty())
      keys.emplace_back(line.key, Trim(line.text.substr(line.text.find('=') + 1)));
  return keys;
}

void SettingsFile::SetInt(const std::string& section, const std::string& key, int value) {
  SetString(section, key, std::to_string(value));
}

void SettingsFile::SetString(const std::string& section, const std::string& key,
                             const std::string& value) {
  std::string text = key + "=" + value.substr(0, value.find_first_of("\r\n"));
  for (Line& line : m_lines) {
    if (line.section != section || line.key != key) continue;
    line.text = text;
    return;
  }
  // A new key goes at the end of its section, which is begun when missing.
  size_t at = m_lines.size();
  bool found = false;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    if (m_lines[i].section != section) continue;
    found = true;
    if (!Trim(m_lines[i].text).empty()) at = i + 1;
  }
  if (!found) {
    m_lines.push_back(Line{section, "", "[" + section + "]"});
    at = m_lines.size();
  }
  m_lines.insert(m_lines.begin() + static_cast<long>(at), Line{section, key, text});
}

DemotionPolicy SettingsFile::GetDemotionPolicy() const {
  DemotionPolicy policy;
  policy.timeouts =
      GetInt(kDemotion, "Timeouts", policy.timeouts, 0, DemotionPolicy::kMostTimeouts);
  policy.holdSeconds =
      GetInt(kDemotion, "HoldSeconds", policy.holdSeconds, 1, DemotionPolicy::kLongestHoldSeconds);
  return policy;
}

void SettingsFile::SetDemotionPolicy(const DemotionPolicy& policy) {
  SetInt(kDemotion, "Timeouts", policy.timeouts);
  SetInt(kDemotion, "HoldSeconds", policy.holdSeconds);
}

HttpSettings SettingsFile::GetHttpSettings() const {
  HttpSettings s;
  const char* http = HttpSettings::kSection;
  s.enabled = GetInt(http, "Enabled", 0, 0, 1) == 1;
  s.address = GetString(http, "Address", s.address);
  if (s.address.empty()) s.address = HttpSettings::kLoopback;
  s.port = GetInt(http, "Port", s.port, 0, kHighestPort);
  s.https = GetInt(http, "Https", 1, 0, 1) == 1;
  s.anonymousLoopbackRead = GetInt(http, "AnonymousLoopbackRead", 0, 0, 1) == 1;
  s.certificateFile = GetString(http, "CertificateFile", "");
  s.keyFile = GetString(http, "KeyFile", "");
  return s;
}

void SettingsFile::SetHttpSettings(const HttpSettings& s) {
  const char* http = HttpSettings::kSection;
  SetInt(http, "Enabled", s.enabled ? 1 : 0);
  SetString(http, "Address", s.address);
  SetInt(http, "Port", s.port);
  SetInt(http, "Https", s.https ? 1 : 0);
  SetInt(http, "AnonymousLoopbackRead", s.anonymousLoopbackRead ? 1 : 0);
  SetString(http, "CertificateFile", s.certificateFile);
  SetString(http, "KeyFile", s.keyFile);
}
