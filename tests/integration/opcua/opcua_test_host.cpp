// A program around the tag-server library for the node-opcua tests: it
// starts the server on a free port, prints "url <endpoint>", then obeys
// commands read from standard input, one per line:
//   create <name> <writable 0|1> <quality> [<float value>]  -> "handle <n>"
//   update <handle> <float value> <quality>                 -> "ok <result>"
//   remove <handle>                                         -> "ok <result>"
//   folder <parent handle, 0 the tag folder> <name>          -> "handle <n>"
//   ftag <folder> <name> <u|d|s> <value>  (read-only, good)  -> "handle <n>"
//   set <handle> <u|d|s> <value>                             -> "ok <result>"
//   rmfolder <handle>                                       -> "ok <result>"
//   props <handle> <units|-> <low|-> <high> <description, to the end of the line>
//                                                           -> "ok <result>"
//     u: UInt32; d: DateTime as Unix milliseconds; s: String
//   result <hresult>   (what the write callback answers from now on)
//   user <name> <read|readwrite> <password>                 -> "ok <0|-1>"
//   trust <certificate file>                                -> "ok <0|-1>"
//   quit
// The certificates and users live under $PELMORAN_CONFIG_DIR; the
// environment's OPCUA_TEST_ANONYMOUS (off, read or readwrite) and
// OPCUA_TEST_NONE_ON_NETWORK (1) set the endpoint's security.
// Every client write is printed as "write <handle> <vt> <value>".
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/ConfigLocation.h"
#include "tagserver/PkiStore.h"
#include "tagserver/UserDirectory.h"
#include "tagserver/tagserver.h"

namespace {

std::mutex g_out;
int32_t g_nResult = 0;

void Say(const std::string& line) {
  std::lock_guard lock(g_out);
  std::cout << line << std::endl;
}

std::string Text(const VARIANT& v) {
  std::ostringstream s;
  switch (v.vt) {
    case VT_BOOL: s << (v.boolVal == VARIANT_TRUE ? "true" : "false"); break;
    case VT_I1: s << int{v.cVal}; break;
    case VT_UI1: s << unsigned{v.bVal}; break;
    case VT_I2: s << v.iVal; break;
    case VT_UI2: s << v.uiVal; break;
    case VT_I4: s << v.lVal; break;
    case VT_UI4: s << v.ulVal; break;
    case VT_I8: s << v.llVal; break;
    case VT_UI8: s << v.ullVal; break;
    case VT_R4: s << v.fltVal; break;
    case VT_R8: s << v.dblVal; break;
    case VT_BSTR: s << (v.bstrVal ? v.bstrVal : ""); break;
    default: s << "?"; break;
  }
  return s.str();
}

void OnWrite(int32_t handle, VARIANT* value, int32_t* result) {
  Say("write " + std::to_string(handle) + " " + std::to_string(value->vt) + " " + Text(*value));
  *result = g_nResult;
}

VARIANT Float(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

// Owned by the caller, who clears it.
VARIANT Typed(const std::string& type, const std::string& value) {
  constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
  constexpr int64_t kTicksPerMs = 10000;
  VARIANT v;
  VariantInit(&v);
  if (type == "u") {
    v.vt = VT_UI4;
    v.ulVal = static_cast<uint32_t>(std::stoul(value));
  } else if (type == "d") {
    v.vt = VT_DATE;
    v.date = VariantTimeFromFileTime(std::stoll(value) * kTicksPerMs + kUnixEpochTicks);
  } else {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value.c_str());
  }
  return v;
}

// "-" stands for no units, and a low of "-" for no range.
int SetProperties(std::istringstream& in) {
  int32_t handle = 0;
  std::string units, low, high, description;
  in >> handle >> units >> low >> high;
  std::getline(in >> std::ws, description);
  bool hasRange = low != "-";
  OPCTagProperties properties{description.c_str(), units == "-" ? nullptr : units.c_str(), hasRange,
                              hasRange ? std::stod(low) : 0, hasRange ? std::stod(high) : 0};
  return SetOPCTagProperties(handle, &properties);
}

void ObeyFolders(const std::string& word, std::istringstream& in) {
  int32_t handle = 0;
  std::string name, type, value;
  if (word == "folder") {
    in >> handle >> name;
    Say("handle " + std::to_string(CreateOPCFolder(handle, name.c_str())));
  } else if (word == "ftag") {
    in >> handle >> name >> type >> value;
    VARIANT v = Typed(type, value);
    Say("handle " + std::to_string(CreateOPCFolderTag(handle, name.c_str(), v, 192, 0)));
    VariantClear(&v);
  } else if (word == "set") {
    in >> handle >> type >> value;
    VARIANT v = Typed(type, value);
    Say("ok " + std::to_string(UpdateOPCTag(handle, v, 192)));
    VariantClear(&v);
  } else if (word == "rmfolder") {
    in >> handle;
    Say("ok " + std::to_string(RemoveOPCFolder(handle)));
  } else if (word == "props") {
    Say("ok " + std::to_string(SetProperties(in)));
  }
}

void Obey(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  if (word == "create") {
    std::string name, value;
    int writable = 0, quality = 0;
    in >> name >> writable >> quality >> value;
    VARIANT v;
    VariantInit(&v);
    if (!value.empty()) v = Float(std::stof(value));
    Say("handle " +
        std::to_string(CreateOPCTag(name.c_str(), v, static_cast<uint16_t>(quality), writable)));
  } else if (word == "update") {
    int32_t handle = 0;
    float value = 0;
    int quality = 0;
    in >> handle >> value >> quality;
    Say("ok " + std::to_string(UpdateOPCTag(handle, Float(value), static_cast<uint16_t>(quality))));
  } else if (word == "remove") {
    int32_t handle = 0;
    in >> handle;
    Say("ok " + std::to_string(RemoveOPCTag(handle)));
  } else if (word == "user") {
    std::string name, role, password;
    in >> name >> role >> password;
    tagserver::UserDirectory users(UserConfigDirectory() + tagserver::UserDirectory::kFileName);
    std::string error;
    bool added = users.Add(
        name, password,
        role == "readwrite" ? tagserver::UserRole::ReadWrite : tagserver::UserRole::ReadOnly,
        error);
    Say(added ? "ok 0" : "ok -1 " + error);
  } else if (word == "trust") {
    std::string file;
    in >> file;
    std::string error;
    Say(tagserver::PkiStore(UserConfigDirectory() + "pki/").Trust(file, error) ? "ok 0"
                                                                               : "ok -1 " + error);
  } else if (word == "result") {
    in >> g_nResult;
    Say("ok 0");
  } else {
    ObeyFolders(word, in);
  }
}

}  // namespace

int AnonymousSetting() {
  const char* text = std::getenv("OPCUA_TEST_ANONYMOUS");
  std::string value = text != nullptr ? text : "";
  if (value == "off") return OPC_ANONYMOUS_OFF;
  if (value == "read") return OPC_ANONYMOUS_READ_ONLY;
  if (value == "readwrite") return OPC_ANONYMOUS_READ_WRITE;
  return OPC_ANONYMOUS_DEFAULT;
}

int main() {
  const char* noneOnNetwork = std::getenv("OPCUA_TEST_NONE_ON_NETWORK");
  OPCSecuritySettings security{nullptr, noneOnNetwork != nullptr && noneOnNetwork[0] == '1',
                               AnonymousSetting()};
  SetOPCSecurity(&security);
  GUID clsid{};
  if (InitOPCServer(&clsid, 250) != 0) return 1;
  EnableWriteCallback(OnWrite, 1);
  Say(std::string("url ") + GetOPCServerURL());
  std::string line;
  while (std::getline(std::cin, line) && line != "quit") Obey(line);
  ShutdownOPCServer();
  return 0;
}
