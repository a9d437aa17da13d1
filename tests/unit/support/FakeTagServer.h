// A recording stand-in for the tag-server library. While an instance lives
// it fills TagServer() with its own entry points (and puts the previous table
// back when it goes). Every call is recorded in order, and the published tags
// are kept with their last value and quality.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "platform/Variant.h"
#include "pointdb/TagServerBinding.h"

// Calls are recorded with designated initializers naming only what matters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class FakeTagServer {
 public:
  // A value as handed over: its type, its number and its text.
  struct Value {
    VARTYPE vt = VT_EMPTY;
    double number = 0.0;
    std::string text;
  };
  struct Call {
    std::string fn;
    int32_t handle = -1;
    std::string name;  // tag name, or ProgID for the registration calls
    Value value;
    uint16_t quality = 0;
    uint32_t status = 0;  // OPC UA status code of UpdateOPCTagStatus
    int64_t sourceTime = 0;
    int flag = 0;  // writable, rate or enable
    std::string description;
    std::string command;
    GUID clsid{};
    VARTYPE type = VT_EMPTY;  // the type CreateOPCTagOfType asked for
  };
  struct Tag {
    std::string name;
    VARTYPE type = VT_EMPTY;  // as created by CreateOPCTagOfType
    Value value;
    uint16_t quality = 0;
    // As the status entry point left them; a classic update sets the status
    // its quality stands for and clears the time.
    uint32_t status = OPC_STATUS_GOOD;
    int64_t sourceTime = 0;
    int writable = 0;
    bool removed = false;
    int updates = 0;
    int32_t folder = OPC_TAG_FOLDER;
    // As SetOPCTagProperties last left them.
    std::string description;
    std::string units;
    bool hasRange = false;
    double rangeLow = 0;
    double rangeHigh = 0;
  };
  struct Folder {
    std::string id;  // the node id's text, as the library builds it
    int32_t parent = OPC_TAG_FOLDER;
    bool removed = false;
  };

  FakeTagServer() : m_previous(TagServer()) {
    Instance() = this;
    TagServerBinding& b = TagServer();
    b.RegisterOPCServer = [](const GUID* id, const char* prog, const char* desc, const char* cmd) {
      // In steps: in one expression GCC 12 at -O3 warns of an uninitialised
      // string on the path where a later member's constructor throws.
      Call call{.fn = "RegisterOPCServer", .name = prog, .clsid = *id};
      call.description = desc;
      call.command = cmd;
      Me().Record(std::move(call));
      return 0;
    };
    b.UnregisterOPCServer = [](const GUID* id, const char* prog) {
      Me().Record(Call{.fn = "UnregisterOPCServer", .name = prog, .clsid = *id});
      return 0;
    };
    b.RegisterOPCService = [](const char* prog) {
      Me().Record(Call{.fn = "RegisterOPCService", .name = prog});
      return 0;
    };
    b.InitOPCServer = [](const GUID* id, int rate) {
      Me().Record(Call{.fn = "InitOPCServer", .flag = rate, .clsid = *id});
      return 0;
    };
    b.EnableWriteCallback = [](OPCWriteCallback cb, int enable) {
      Me().writeCallback = cb;
      Me().Record(Call{.fn = "EnableWriteCallback", .flag = enable});
      return 0;
    };
    b.EnableAsyncWriteCallback = [](OPCAsyncWriteCallback cb, int enable) {
      Me().asyncWriteCallback = cb;
      Me().Record(Call{.fn = "EnableAsyncWriteCallback", .flag = enable});
      return 0;
    };
    // Kept apart from the calls: completions follow the traffic, not start-up.
    b.CompleteOPCWrite = [](OPCWriteToken token, uint32_t status) {
      Me().completions.emplace_back(token, status);
      return 0;
    };
    b.CreateOPCTag = [](const char* name, VARIANT v, uint16_t q, int w) {
      return Me().Create(name, v, q, w);
    };
    b.CreateOPCTagOfType = [](const char* name, VARTYPE vt, VARIANT v, uint16_t q, int w) {
      return Me().Create(name, v, q, w, "CreateOPCTag", vt);
    };
    b.UpdateOPCTag = [](int32_t h, VARIANT v, uint16_t q) { return Me().Update(h, v, q); };
    b.UpdateOPCTagStatus = [](int32_t h, VARIANT v, uint32_t status, int64_t time) {
      return Me().UpdateStatus(h, v, status, time);
    };
    b.RemoveOPCTag = [](int32_t h) { return Me().Remove(h); };
    b.CreateOPCFolder = [](int32_t parent, const char* name) {
      return Me().CreateFolder(parent, name);
    };
    b.CreateOPCFolderTag = [](int32_t folder, const char* name, VARIANT v, uint16_t q, int w) {
      return Me().CreateInFolder(folder, name, v, q, w);
    };
    b.RemoveOPCFolder = [](int32_t h) { return Me().RemoveFolder(h); };
    b.SetOPCTagProperties = [](int32_t h, const OPCTagProperties* p) {
      return Me().SetProperties(h, p);
    };
    b.GetOPCServerURL = []() { return Me().url.c_str(); };
    b.ShutdownOPCServer = []() { Me().Record(Call{.fn = "ShutdownOPCServer"}); };
    // Kept apart from the calls, whose order start-up tests check.
    b.EnableOPCLogCallback = [](OPCLogCallback cb) { Me().logCallback = cb; };
  }
  ~FakeTagServer() {
    TagServer() = m_previous;
    Instance() = nullptr;
  }
  FakeTagServer(const FakeTagServer&) = delete;
  FakeTagServer& operator=(const FakeTagServer&) = delete;

  // Scripting.
  bool failCreate = false;  // CreateOPCTag answers -1
  int32_t nextHandle = 1;
  std::string url = "opc.tcp://localhost:4840";
  OPCWriteCallback writeCallback = nullptr;
  OPCLogCallback logCallback = nullptr;
  OPCAsyncWriteCallback asyncWriteCallback = nullptr;
  // Every CompleteOPCWrite: token and status, in order.
  std::vector<std::pair<OPCWriteToken, uint32_t>> completions;

  // What was called, and the tags as they stand.
  std::vector<Call> calls;
  std::map<int32_t, Tag> tags;
  std::map<int32_t, Folder> folders;

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Call& c : calls) names.push_back(c.fn);
    return names;
  }
  int Count(const std::string& fn) const {
    int n = 0;
    for (const Call& c : calls) n += c.fn == fn;
    return n;
  }
  // The calls of one entry point, in order.
  std::vector<Call> CallsOf(const std::string& fn) const {
    std::vector<Call> of;
    for (const Call& c : calls)
      if (c.fn == fn) of.push_back(c);
    return of;
  }
  const Tag* TagNamed(const std::string& name) const {
    for (const auto& [handle, tag] : tags)
      if (tag.name == name && !tag.removed) return &tag;
    return nullptr;
  }
  const Folder* FolderNamed(const std::string& id) const {
    for (const auto& [handle, folder] : folders)
      if (folder.id == id && !folder.removed) return &folder;
    return nullptr;
  }
  int LiveTagCount() const {
    int n = 0;
    for (const auto& entry : tags) n += !entry.second.removed;
    return n;
  }
  void Clear() { calls.clear(); }

  // A client writes a tag through the installed write callback; the result
  // the program stored.
  int32_t ClientWrite(int32_t handle, VARIANT* value) {
    int32_t result = -1;
    if (writeCallback) writeCallback(handle, value, &result);
    return result;
  }

  static Value ValueOf(const VARIANT& v) {
    Value out;
    out.vt = v.vt;
    VARIANT r8;
    VariantInit(&r8);
    if (VariantChangeType(&r8, &v, 0, VT_R8) == S_OK) out.number = r8.dblVal;
    VARIANT text;
    VariantInit(&text);
    if (VariantChangeType(&text, &v, 0, VT_BSTR) == S_OK && text.bstrVal) out.text = text.bstrVal;
    VariantClear(&text);
    return out;
  }

 private:
  static FakeTagServer*& Instance() {
    static FakeTagServer* instance = nullptr;
    return instance;
  }
  static FakeTagServer& Me() { return *Instance(); }
  void Record(Call call) { calls.push_back(std::move(call)); }

  int32_t Create(const char* name, const VARIANT& v, uint16_t quality, int writable,
                 const char* fn = "CreateOPCTag", VARTYPE type = VT_EMPTY) {
    int32_t handle = failCreate ? -1 : nextHandle++;
    // Both entry points are recorded as CreateOPCTag; type tells them apart.
    Record(Call{.fn = fn,
                .handle = handle,
                .name = name,
                .value = ValueOf(v),
                .quality = quality,
                .flag = writable,
                .type = type});
    if (handle != -1)
      tags[handle] = Tag{.name = name,
                         .type = type,
                         .value = ValueOf(v),
                         .quality = quality,
                         .status = StatusOfQuality(quality),
                         .writable = writable};
    return handle;
  }
  int Update(int32_t handle, const VARIANT& v, uint16_t quality) {
    Record(Call{.fn = "UpdateOPCTag", .handle = handle, .value = ValueOf(v), .quality = quality});
    return Store(handle, v, quality, StatusOfQuality(quality), 0);
  }
  // Its quality is the classic word the status stands for, so that tests of
  // the quality hold whichever entry point the program takes.
  int UpdateStatus(int32_t handle, const VARIANT& v, uint32_t status, int64_t time) {
    Record(Call{.fn = "UpdateOPCTagStatus",
                .handle = handle,
                .value = ValueOf(v),
                .quality = QualityOfStatus(status),
                .status = status,
                .sourceTime = time});
    return Store(handle, v, QualityOfStatus(status), status, time);
  }
  int Store(int32_t handle, const VARIANT& v, uint16_t quality, uint32_t status, int64_t time) {
    auto it = tags.find(handle);
    if (it == tags.end()) return -1;
    it->second.value = ValueOf(v);
    it->second.quality = quality;
    it->second.status = status;
    it->second.sourceTime = time;
    ++it->second.updates;
    return 0;
  }
  static uint32_t StatusOfQuality(uint16_t quality) {
    constexpr uint32_t kBad = 0x80000000u;
    return quality >= OPC_QUALITY_GOOD ? OPC_STATUS_GOOD : kBad;
  }
  static uint16_t QualityOfStatus(uint32_t status) {
    return status == OPC_STATUS_GOOD ? OPC_QUALITY_GOOD : OPC_QUALITY_BAD;
  }
  int Remove(int32_t handle) {
    Record(Call{.fn = "RemoveOPCTag", .handle = handle});
    auto it = tags.find(handle);
    if (it == tags.end()) return -1;
    it->second.removed = true;
    return 0;
  }

  int SetProperties(int32_t handle, const OPCTagProperties* p) {
    auto it = tags.find(handle);
    if (p == nullptr || it == tags.end() || it->second.removed) return -1;
    Call call{.fn = "SetOPCTagProperties", .handle = handle, .name = it->second.name};
    call.description = p->description != nullptr ? p->description : "";
    Record(std::move(call));
    Tag& tag = it->second;
    tag.description = p->description != nullptr ? p->description : "";
    tag.units = p->units != nullptr ? p->units : "";
    tag.hasRange = p->hasRange != 0;
    tag.rangeLow = p->rangeLow;
    tag.rangeHigh = p->rangeHigh;
    return 0;
  }

  int32_t CreateFolder(int32_t parent, const std::string& name) {
    std::string id = parent == OPC_TAG_FOLDER ? name : FolderId(parent) + "." + name;
    bool refused = name.empty() || (parent != OPC_TAG_FOLDER && FolderId(parent).empty()) ||
                   FolderNamed(id) != nullptr;
    int32_t handle = refused ? -1 : m_nNextFolder++;
    Record(Call{.fn = "CreateOPCFolder", .handle = handle, .name = id, .flag = parent});
    if (handle != -1) folders[handle] = Folder{id, parent};
    return handle;
  }
  std::string FolderId(int32_t handle) const {
    auto it = folders.find(handle);
    return it == folders.end() || it->second.removed ? "" : it->second.id;
  }
  int32_t CreateInFolder(int32_t folder, const std::string& name, const VARIANT& v,
                         uint16_t quality, int writable) {
    if (FolderId(folder).empty() || name.empty()) return -1;
    std::string id = FolderId(folder) + "." + name;
    int32_t handle = Create(id.c_str(), v, quality, writable, "CreateOPCFolderTag");
    if (handle != -1) tags[handle].folder = folder;
    return handle;
  }
  int RemoveFolder(int32_t handle) {
    Record(Call{.fn = "RemoveOPCFolder", .handle = handle});
    if (FolderId(handle).empty()) return -1;
    folders[handle].removed = true;
    for (auto& [tag, entry] : tags)
      if (entry.folder == handle) entry.removed = true;
    for (const auto& [child, entry] : folders)
      if (entry.parent == handle && !entry.removed) RemoveFolder(child);
    return 0;
  }

  int32_t m_nNextFolder = 1;
  TagServerBinding m_previous;
};

#pragma GCC diagnostic pop
