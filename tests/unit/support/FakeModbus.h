// A recording stand-in for the Modbus master library. While an instance
// lives it fills Modbus() with its own entry points (and puts the previous
// table back when it goes). Every call is recorded in order; results can be
// scripted, and by default a small simulated slave answers: reads return
// words from `memory`, writes store into it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "link/ModbusBinding.h"

// Calls are recorded with designated initializers naming only what matters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

class FakeModbus {
 public:
  struct Call {
    std::string fn;
    int handle = -1;
    RequestHeader header{};
    std::vector<uint16_t> data;  // the words a write carried
    int comPort = 0;
    int timeoutMs = 0;
    SerialSettings serial{};
    uint32_t ipAddress = 0;  // network byte order, as handed over
    uint32_t tcpPort = 0;
    TcpOptions tcp{};
    bool callbackSet = false;
    std::string host;  // ConnectTCPHost, ConnectNetLine
    int transport = 0;
    int framing = 0;
    std::vector<uint32_t> values;  // SetRequestPause, SetRequestRetries, SetRs485Mode
  };
  // A scripted answer of MODBUSResponse.
  struct Response {
    RequestHeader header{};
    std::vector<uint16_t> words;
    int status = 0;
  };

  FakeModbus() : m_previous(Modbus()) {
    Instance() = this;
    ModbusBinding& b = Modbus();
    b.ConnectASCII = [](int p, int t, const SerialSettings* s) {
      return Me().Serial("ConnectASCII", p, t, s);
    };
    b.ConnectRTU = [](int p, int t, const SerialSettings* s) {
      return Me().Serial("ConnectRTU", p, t, s);
    };
    b.ConnectDanielsASCII = [](int p, int t, const SerialSettings* s) {
      return Me().Serial("ConnectDanielsASCII", p, t, s);
    };
    b.ConnectDanielsRTU = [](int p, int t, const SerialSettings* s) {
      return Me().Serial("ConnectDanielsRTU", p, t, s);
    };
    b.ConnectTCP2 = [](uint32_t a, uint32_t p, const TcpOptions* o) { return Me().Tcp(a, p, o); };
    b.ConnectTCPHost = [](const char* h, uint32_t p, const TcpOptions* o) {
      Me().Record(Call{.fn = "ConnectTCPHost", .tcpPort = p, .tcp = *o, .host = h});
      return Me().NewHandle();
    };
    b.ConnectNetLine = [](const char* h, uint32_t p, int transport, int framing, int t) {
      Me().Record(Call{.fn = "ConnectNetLine",
                       .timeoutMs = t,
                       .tcpPort = p,
                       .host = h,
                       .transport = transport,
                       .framing = framing});
      return Me().NewHandle();
    };
    b.SetRequestPause = [](int h, uint32_t ms) { return Me().Setting("SetRequestPause", h, {ms}); };
    b.SetRequestRetries = [](int h, uint32_t n) {
      return Me().Setting("SetRequestRetries", h, {n});
    };
    b.ShareLine = [](int h, const SharedLineSettings* s, uint16_t*) {
      return Me().Setting("ShareLine", h, {s->port, s->maxClients, s->maxQueuedPerClient});
    };
    b.SetRs485Mode = [](int h, int mode, uint32_t before, uint32_t after) {
      return Me().Setting("SetRs485Mode", h, {static_cast<uint32_t>(mode), before, after});
    };
    b.EnableConnectionCallback = [](ConnectionCallback cb) {
      Me().connectionCallback = cb;
      Me().Record(Call{.fn = "EnableConnectionCallback", .callbackSet = cb != nullptr});
    };
    b.EnableModbusCallback = [](int h, ModbusCallback cb) {
      Me().Record(Call{.fn = "EnableModbusCallback", .handle = h, .callbackSet = cb != nullptr});
    };
    b.PollMODBUS = [](int h, const RequestHeader* hd) {
      return Me().Start("PollMODBUS", h, hd, nullptr);
    };
    b.WriteMODBUS = [](int h, const RequestHeader* hd, const uint16_t* d) {
      return Me().Start("WriteMODBUS", h, hd, d);
    };
    b.MODBUSResponse = [](int h, RequestHeader* hd, uint16_t* d, int cap) {
      return Me().Answer(h, hd, d, cap);
    };
    b.MODBUSResponseTime = [](int, int64_t* at) {
      if (Me().answeredAt == 0) return static_cast<int>(MBS_UNINITIALIZED);
      *at = Me().answeredAt;
      return static_cast<int>(MBS_OK);
    };
    b.CloseConnection = [](int h) { Me().Record(Call{.fn = "CloseConnection", .handle = h}); };
    // Kept apart from the calls, whose order start-up tests check.
    b.EnableLogCallback = [](LogCallback cb) { Me().logCallback = cb; };
    b.GetModbusCounters = [](int, ModbusCounters* out) {
      *out = Me().counters;
      return static_cast<int>(MBS_OK);
    };
  }
  ~FakeModbus() {
    Modbus() = m_previous;
    Instance() = nullptr;
  }
  FakeModbus(const FakeModbus&) = delete;
  FakeModbus& operator=(const FakeModbus&) = delete;

  // Scripting.
  std::optional<int> connectResult;  // else handles nextHandle, nextHandle + 1, ...
  int nextHandle = 100;
  std::deque<int> startResults;    // results of PollMODBUS / WriteMODBUS; 0 when empty
  std::deque<Response> responses;  // answers of MODBUSResponse; the simulated slave when empty
  int responseStatus = 0;          // status of the simulated slave's answers
  ModbusCounters counters{};       // what GetModbusCounters tells of any connection
  int64_t answeredAt = 0;          // what MODBUSResponseTime tells; 0: it has no result
  std::vector<uint16_t> memory = std::vector<uint16_t>(65536 + 2000, 0);
  ConnectionCallback connectionCallback = nullptr;
  LogCallback logCallback = nullptr;

  // What was called.
  std::vector<Call> calls;
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
  const Call* Last(const std::string& fn) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
      if (it->fn == fn) return &*it;
    return nullptr;
  }
  // The requests handed to the library (polls and writes), in order.
  std::vector<Call> Started() const {
    std::vector<Call> started;
    for (const Call& c : calls)
      if (c.fn == "PollMODBUS" || c.fn == "WriteMODBUS") started.push_back(c);
    return started;
  }
  void Clear() { calls.clear(); }

  // The library's response callback for the request outstanding on handle.
  static void Respond(int handle) { OnModbusCallback(handle, 0, 0); }

 private:
  static FakeModbus*& Instance() {
    static FakeModbus* instance = nullptr;
    return instance;
  }
  static FakeModbus& Me() { return *Instance(); }

  void Record(Call call) { calls.push_back(std::move(call)); }
  int NewHandle() { return connectResult ? *connectResult : nextHandle++; }

  int Serial(const char* fn, int port, int timeout, const SerialSettings* s) {
    Record(Call{.fn = fn, .comPort = port, .timeoutMs = timeout, .serial = *s});
    return NewHandle();
  }
  int Setting(const char* fn, int handle, std::vector<uint32_t> values) {
    Record(Call{.fn = fn, .handle = handle, .values = std::move(values)});
    return 0;
  }
  int Tcp(uint32_t address, uint32_t port, const TcpOptions* options) {
    Record(Call{.fn = "ConnectTCP2", .ipAddress = address, .tcpPort = port, .tcp = *options});
    return NewHandle();
  }
  int Start(const char* fn, int handle, const RequestHeader* header, const uint16_t* data) {
    Call call{.fn = fn, .handle = handle, .header = *header};
    if (data) call.data.assign(data, data + header->length);
    Record(call);
    m_lastStarted[handle] = *header;
    if (data && startResults.empty()) Store(*header, data);
    if (startResults.empty()) return 0;
    int result = startResults.front();
    startResults.pop_front();
    return result;
  }
  void Store(const RequestHeader& h, const uint16_t* data) {
    for (int k = 0; k < h.length; ++k) memory[h.address + k] = data[k];
  }
  int Answer(int handle, RequestHeader* header, uint16_t* data, int capacity) {
    Record(Call{.fn = "MODBUSResponse", .handle = handle});
    if (!responses.empty()) {
      Response r = responses.front();
      responses.pop_front();
      *header = r.header;
      for (size_t k = 0; k < r.words.size() && k < static_cast<size_t>(capacity); ++k)
        data[k] = r.words[k];
      return r.status;
    }
    *header = m_lastStarted[handle];
    if (header->function <= 4)
      for (int k = 0; k < header->length && k < capacity; ++k)
        data[k] = memory[header->address + k];
    return responseStatus;
  }

  ModbusBinding m_previous;
  std::unordered_map<int, RequestHeader> m_lastStarted;
};

#pragma GCC diagnostic pop
