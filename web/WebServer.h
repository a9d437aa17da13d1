// The program's HTTP server: Prometheus metrics at /metrics, the health at
// /health, the live status as JSON at /api/status and the configuration at
// /api/config, changed an endpoint or scan at a time (PUT /api/endpoints/NAME,
// /api/scans/FILE), and the page (web/page/) with its event stream at
// /api/events, over HTTPS with the program's own certificate (or plain HTTP
// where the operator says so), on the address and port pelmoran.ini's [Http]
// gives. The HTTP work (cpp-httplib) runs on threads of its own: a listener
// and a pool of workers. A worker reads the program's state only through the
// main-thread gate, which posts the call and waits for its answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "runtime/HttpSettings.h"
#include "web/MainThreadGate.h"
#include "web/ProgramFigures.h"

class Runtime;

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace web {

class MetricsText;
class WebAccess;
enum class WebRole;

class WebServer {
 public:
  using Figures = std::function<ProgramFigures()>;
  static constexpr int kWorkers = 8;
  static constexpr int kReadTimeoutSeconds = 5;
  static constexpr size_t kMaxBody = 256 * 1024;
  // How long a request waits for the main thread before it is answered 503.
  static constexpr std::chrono::milliseconds kMainThreadPatience{5000};
  // The page's event streams: each holds a worker, so that only some may.
  static constexpr int kMaxStreams = 3;
  static constexpr std::chrono::milliseconds kStreamPeriod{1000};
  static constexpr size_t kLogLines = 200;

  // runtime and figures are used on the main thread only; post queues a call
  // there. The runtime outlives the server.
  WebServer(Runtime& runtime, Figures figures, MainThreadGate::Poster post);
  // Stop().
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Main thread. folder: the configuration folder, where the OPC UA users
  // and certificate are. False with the reason when it cannot serve.
  bool Start(const HttpSettings& settings, const std::string& folder, std::string* error);
  // Main thread. Requests waiting for it are answered 503 first.
  void Stop();
  // The port it listens on, once started: the one asked for, or the free one taken.
  int Port() const { return m_nPort; }
  // "https://127.0.0.1:8443/"
  std::string Url() const;
  // Main thread. A line of the program's log, for the page's event log.
  void LogLine(const std::string& line);

 private:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  bool MakeServer(const HttpSettings& settings, const std::string& folder, std::string* error);
  // method: "GET" or "PUT".
  void Route(const char* method, const char* path, WebRole need, Handler handler);
  void Metrics(httplib::Response& response);
  void Health(httplib::Response& response);
  void Status(httplib::Response& response);
  void Config(httplib::Response& response);
  void Events(httplib::Response& response);
  // What the page's stream sends next: the status with the tags, and the
  // log lines after cursor, which it moves on. Main thread.
  std::string PageStatus(uint64_t& cursor);
  void Change(const char* table, const httplib::Request& request, httplib::Response& response);

  Runtime& m_runtime;
  Figures m_figures;
  MainThreadGate::Poster m_post;
  std::unique_ptr<MainThreadGate> m_gate;
  std::unique_ptr<WebAccess> m_access;
  std::unique_ptr<MetricsText> m_metrics;  // main thread
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_listener;
  HttpSettings m_settings;
  std::deque<std::pair<uint64_t, std::string>> m_log;  // main thread
  uint64_t m_nLogLines = 0;
  std::atomic<int> m_nStreams{0};
  std::mutex m_stopMutex;  // guards m_bStopping, which the streams wait on
  std::condition_variable m_stopped;
  bool m_bStopping = false;
  int m_nPort = 0;
};

}  // namespace web
