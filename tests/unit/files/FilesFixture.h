// What the file tests stand on: the two libraries replaced by recorders, the
// application with its template and endpoint list, views that remember the
// poll frequencies they were given, and a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/EndpointRegistry.h"
#include "link/ModbusBinding.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "pointdb/DocTemplate.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/ScanFile.h"
#include "pointdb/ScanView.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/ConfigFile.h"
#include "runtime/Runtime.h"

namespace files_test {

struct PublishedTag {
  std::string name;
  uint16_t quality;
  int writable;
  int32_t handle;
};

struct Connect {
  std::string kind;  // "ASCII", "RTU", "DanielsASCII", "DanielsRTU", "TCP"
  uint32_t port;
  uint32_t address;  // TCP only, network byte order
  int timeout;
  SerialSettings serial;
  TcpOptions options;
};

// Calls the libraries received, in order.
struct Recorder {
  std::vector<std::string> calls;
  std::vector<PublishedTag> created;
  std::vector<int32_t> removed;
  std::vector<Connect> connects;
  std::vector<std::string> messages;
  std::vector<RequestHeader> writes;
  int32_t nextTagHandle = 100;
  int nextConnection = 7;
  bool connectsSucceed = true;
};

inline Recorder*& TheRecorder() {
  static Recorder* recorder = nullptr;
  return recorder;
}

inline int RecordSerial(const char* kind, int port, int timeout, const SerialSettings* serial) {
  Recorder& r = *TheRecorder();
  Connect c{kind, static_cast<uint32_t>(port), 0, timeout, *serial, {}};
  r.connects.push_back(c);
  r.calls.push_back(std::string("Connect") + kind);
  return r.connectsSucceed ? r.nextConnection++ : -1;
}

inline void InstallRecorder(Recorder& recorder) {
  TheRecorder() = &recorder;
  TagServerBinding& tags = TagServer();
  tags.CreateOPCTag = [](const char* name, VARIANT, uint16_t quality, int writable) {
    Recorder& r = *TheRecorder();
    const int32_t handle = r.nextTagHandle++;
    r.created.push_back({name, quality, writable, handle});
    r.calls.push_back(std::string("CreateOPCTag ") + name);
    return handle;
  };
  tags.UpdateOPCTag = [](int32_t, VARIANT, uint16_t) { return 0; };
  tags.RemoveOPCTag = [](int32_t handle) {
    TheRecorder()->removed.push_back(handle);
    TheRecorder()->calls.push_back("RemoveOPCTag " + std::to_string(handle));
    return 0;
  };
  ModbusBinding& modbus = Modbus();
  modbus.ConnectASCII = [](int port, int timeout, const SerialSettings* s) {
    return RecordSerial("ASCII", port, timeout, s);
  };
  modbus.ConnectRTU = [](int port, int timeout, const SerialSettings* s) {
    return RecordSerial("RTU", port, timeout, s);
  };
  modbus.ConnectDanielsASCII = [](int port, int timeout, const SerialSettings* s) {
    return RecordSerial("DanielsASCII", port, timeout, s);
  };
  modbus.ConnectDanielsRTU = [](int port, int timeout, const SerialSettings* s) {
    return RecordSerial("DanielsRTU", port, timeout, s);
  };
  modbus.ConnectTCP2 = [](uint32_t address, uint32_t port, const TcpOptions* options) {
    Recorder& r = *TheRecorder();
    r.connects.push_back(
        {"TCP", port, address, static_cast<int>(options->timeoutMs), {}, *options});
    r.calls.push_back("ConnectTCP2");
    return r.connectsSucceed ? r.nextConnection++ : -1;
  };
  modbus.EnableModbusCallback = [](int, ModbusCallback) {};
  modbus.CloseConnection = [](int handle) {
    TheRecorder()->calls.push_back("CloseConnection " + std::to_string(handle));
  };
  modbus.PollMODBUS = [](int, const RequestHeader*) { return 0; };
  modbus.WriteMODBUS = [](int, const RequestHeader* header, const uint16_t*) {
    TheRecorder()->writes.push_back(*header);
    return 0;
  };
  SetMessageBoxHandler([](const std::string& text, unsigned) {
    TheRecorder()->messages.push_back(text);
    return 1;
  });
}

class FakeView : public IScanView {
 public:
  explicit FakeView(CPelmoranDoc& doc) : m_doc(doc) {}
  void OnScanComplete() override {}
  void SetPollFrequency(int milliseconds) override {
    m_frequencies.push_back(milliseconds);
    m_doc.m_scan.m_nPollFrequency = milliseconds;
  }

  CPelmoranDoc& m_doc;
  std::vector<int> m_frequencies;
};

class FakeViewFactory : public IViewFactory {
 public:
  IScanView* CreateView(CPelmoranDoc& doc) override {
    auto view = std::make_unique<FakeView>(doc);
    FakeView* raw = view.get();
    m_views[&doc] = std::move(view);
    return raw;
  }
  void InitialUpdate(CPelmoranDoc&) override {}
  void DestroyView(CPelmoranDoc& doc) override { m_views.erase(&doc); }

  FakeView* ViewOf(const CPelmoranDoc* doc) const {
    auto it = m_views.find(doc);
    return it == m_views.end() ? nullptr : it->second.get();
  }

 private:
  std::map<const CPelmoranDoc*, std::unique_ptr<FakeView>> m_views;
};

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallRecorder(m_recorder);
    SetSaveAsHandler(nullptr);
    char pattern[] = "/tmp/pelmoran-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
  }

  void TearDown() override {
    m_app.CloseAllDocuments();
    m_frame.RemoveAllEndpoints();
    SetSaveAsHandler(nullptr);
    SetMessageBoxHandler(nullptr);
    std::filesystem::remove_all(m_dir);
    TheRecorder() = nullptr;
  }

  std::string PathOf(const std::string& name) const { return m_dir + "/" + name; }

  // A scan made as Data New makes it, with every tag of one data type.
  CPelmoranDoc* NewScan(const std::string& endpoint, uint8_t pointType, uint16_t length,
                        int dataType, const std::string& delimiter = ".") {
    CModbusMsg definition;
    definition.m_nPointType = pointType;
    definition.m_nScanLength = length;
    definition.m_strDelimiter = delimiter;
    m_app.m_nDefaultDataType = dataType;
    m_app.CreateScan(definition, endpoint);
    return m_template.GetDocument(m_template.GetDocumentCount() - 1);
  }

  // The file operations, what they tell the operator kept as the window
  // shows it: one message after the other.
  CPelmoranDoc* OpenScanFile(const std::string& path) {
    std::string message;
    CPelmoranDoc* doc = m_template.OpenDocumentFile(path, &message);
    if (!message.empty()) m_recorder.messages.push_back(message);
    return doc;
  }
  bool SaveScan(CPelmoranDoc& doc, const std::string& path) {
    std::string message;
    const bool saved = SaveScanFile(doc, path, message);
    if (!saved) m_recorder.messages.push_back(message);
    return saved;
  }
  bool SaveConfig(const std::string& path) {
    ConfigFile file(m_app);
    const bool saved = file.SaveTestConfig(path);
    Keep(file.Messages());
    return saved;
  }
  void RestoreConfig(const std::string& path, Runtime& runtime) {
    ConfigFile file(runtime);
    file.RestoreConfig(path);
    Keep(file.Messages());
  }
  void RestoreConfig(const std::string& path) { RestoreConfig(path, m_app); }
  void Keep(const std::vector<std::string>& messages) {
    m_recorder.messages.insert(m_recorder.messages.end(), messages.begin(), messages.end());
  }

  CModbusConnection* AddEndpoint(const std::string& name) {
    CModbusConnection* endpoint = m_frame.Adopt(std::make_unique<CModbusConnection>());
    endpoint->m_strName = name;
    return endpoint;
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<std::string> DirectoryEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Torn down in reverse: endpoints, then the documents with the template
  // the application owns, then their views.
  Recorder m_recorder;
  FakeViewFactory m_factory;
  Runtime m_app{&m_factory};
  DocTemplate& m_template = m_app.m_docTemplate;
  EndpointRegistry& m_frame = m_app.m_endpoints;
  std::string m_dir;
};

}  // namespace files_test
