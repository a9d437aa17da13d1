// Registration of the server on this platform: a record in the user's
// configuration directory that says which program serves the ProgID and where
// clients reach it, and for the service a systemd user unit that runs that
// program without windows.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/ConfigLocation.h"
#include "tagserver/EndpointSetting.h"
#include "tagserver/tagserver.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordSuffix = ".registration";
constexpr const char* kUnitName = "pelmoran.service";

// The record lies where the program keeps its other files; the unit where
// systemd looks for a user's units.
fs::path RecordPath(const std::string& progId) {
  return fs::path(UserConfigDirectory()) / (progId + kRecordSuffix);
}

fs::path UnitPath() { return fs::path(XdgConfigHome()) / "systemd" / "user" / kUnitName; }

// The ProgID becomes a file name: nothing that could leave the directory.
bool IsSafeProgId(const char* progId) {
  if (progId == nullptr || progId[0] == '\0') return false;
  std::string id(progId);
  if (id == "." || id == "..") return false;
  for (unsigned char c : id)
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  return true;
}

// A value is one line of the record.
bool IsOneLine(const char* text) {
  if (text == nullptr) return false;
  for (const char* p = text; *p != '\0'; ++p)
    if (*p == '\n' || *p == '\r') return false;
  return true;
}

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// Written beside the old file and renamed over it, so that a failed write
// never leaves a truncated record or unit behind; the temporary name is the
// process's own, so that two programs registering at once never share it.
bool WriteFileWhole(const fs::path& path, const std::string& content) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) return false;
  fs::path temp = path;
  temp += ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) {
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, path, ec);
  if (ec) fs::remove(temp, ec);
  return !ec;
}

std::map<std::string, std::string> ReadRecord(const fs::path& path) {
  std::map<std::string, std::string> fields;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

// One word of an ExecStart line, quoted the way systemd reads it.
std::string UnitWord(const std::string& word) {
  std::string quoted = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '$') quoted += '$';
    quoted += c;
  }
  return quoted + "\"";
}

// The registered command names the program as "<dir>pelmoran.EXE"; on this
// platform the file has no ".EXE", and a unit must start a file that exists.
std::string ProgramOf(const std::string& command, std::string& arguments) {
  std::string lower = command;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t exe = lower.find(".exe");
  size_t end = exe != std::string::npos ? exe + 4 : std::min(command.find(' '), command.size());
  std::string program = command.substr(0, end);
  arguments = command.substr(end);
  std::error_code ec;
  if (exe != std::string::npos && !fs::exists(program, ec) &&
      fs::exists(program.substr(0, exe), ec))
    program.resize(exe);
  return program;
}

std::string ExecStart(const std::string& command) {
  std::string arguments;
  std::string line = UnitWord(ProgramOf(command, arguments));
  std::istringstream words(arguments);
  std::string word;
  while (words >> word) line += ' ' + UnitWord(word);
  return line + " " + UnitWord("-Headless");
}

// Where clients reach the server: where it listens when it runs, else where
// it will listen (unknown when it is to pick a free port).
std::string ServerUrl() {
  const char* running = GetOPCServerURL();
  if (running != nullptr && running[0] != '\0') return running;
  tagserver::EndpointSetting at;
  std::string error;
  const char* setting = std::getenv("PELMORAN_OPCUA_ENDPOINT");
  if (setting != nullptr && setting[0] != '\0' &&
      !tagserver::ParseEndpointSetting(setting, at, error))
    return "";
  return at.port == 0 ? "" : tagserver::EndpointUrl(at, at.port);
}

}  // namespace

extern "C" {

int RegisterOPCServer(const GUID* clsid, const char* progId, const char* description,
                      const char* serverCommand) {
  if (clsid == nullptr || !IsSafeProgId(progId) || !IsOneLine(description) ||
      !IsOneLine(serverCommand))
    return -1;
  std::string record = "ProgID=" + std::string(progId) + "\n";
  record += "Description=" + std::string(description) + "\n";
  record += "ClassID=" + GuidText(*clsid) + "\n";
  record += "ServerCommand=" + std::string(serverCommand) + "\n";
  record += "EndpointURL=" + ServerUrl() + "\n";
  return WriteFileWhole(RecordPath(progId), record) ? 0 : -1;
}

int UnregisterOPCServer(const GUID* clsid, const char* progId) {
  if (clsid == nullptr || !IsSafeProgId(progId)) return -1;
  std::error_code ec;
  fs::remove(RecordPath(progId), ec);
  bool recordGone = !ec;
  fs::remove(UnitPath(), ec);
  return recordGone && !ec ? 0 : -1;
}

int RegisterOPCService(const char* progId) {
  if (!IsSafeProgId(progId)) return -1;
  std::map<std::string, std::string> record = ReadRecord(RecordPath(progId));
  auto command = record.find("ServerCommand");
  if (command == record.end() || command->second.empty()) return -1;
  std::string description;
  for (char c : record["Description"])
    description += c == '%' ? std::string("%%") : std::string(1, c);
  std::string unit = "[Unit]\nDescription=" + description + "\n";
  // The program says when it is up and pings from its main loop (sd_notify).
  unit += "After=network.target\n\n[Service]\nType=notify\nNotifyAccess=main\nWatchdogSec=30\n";
  unit += "ExecStart=" + ExecStart(command->second) + "\n";
  unit += "Restart=on-failure\n\n[Install]\nWantedBy=default.target\n";
  return WriteFileWhole(UnitPath(), unit) ? 0 : -1;
}

}  // extern "C"
