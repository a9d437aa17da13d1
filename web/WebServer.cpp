#include "web/WebServer.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>

#include "platform/Log.h"
#include "web/ConfigApi.h"
#include "web/ConfigTables.h"
#include "web/HealthCheck.h"
#include "web/MetricsText.h"
#include "web/PageAssets.h"
#include "web/StatusJson.h"
#include "web/WebAccess.h"

namespace web {

namespace {

constexpr const char* kCertificate = "pki/own/certs/pelmoran.der";
constexpr const char* kPrivateKey = "pki/own/private/pelmoran.pem";
constexpr const char* kUsers = "opcua-users";
constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kJson = "application/json";
constexpr const char* kBusy = "the program did not answer in time\n";
// How long Start waits for the listener to run, so that Stop can end it.
constexpr auto kListenerStartBound = std::chrono::seconds(5);

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A certificate in PEM or DER; null when the file holds neither.
X509* ReadCertificate(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;
  X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
  if (!certificate) {
    std::rewind(file);
    certificate = d2i_X509_fp(file, nullptr);
  }
  std::fclose(file);
  return certificate;
}

EVP_PKEY* ReadKey(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return nullptr;
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  return key;
}

// What the library's own refusals say: the request did not reach a handler.
std::string ErrorText(int status) {
  switch (status) {
    case 400: return "the request is malformed";
    case 404: return "nothing is served at this path";
    case 413: return "the request's body is too large";
    case 414: return "the request's path is too long";
    case 431: return "the request's header is too large";
    default: return "the request was refused (" + std::to_string(status) + ")";
  }
}

void Answer(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", kText);
}

}  // namespace

WebServer::WebServer(Runtime& runtime, Figures figures, MainThreadGate::Poster post)
    : m_runtime(runtime), m_figures(std::move(figures)), m_post(std::move(post)) {}

WebServer::~WebServer() { Stop(); }

std::string WebServer::Url() const {
  const bool v6 = m_settings.address.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + m_settings.address + "]" : m_settings.address;
  return std::string(m_settings.https ? "https" : "http") + "://" + host + ":" +
         std::to_string(m_nPort) + "/";
}

bool WebServer::Start(const HttpSettings& settings, const std::string& folder,
                      std::string* error) {
  Stop();
  m_settings = settings;
  if (!MakeServer(settings, folder, error)) return false;
  m_gate = std::make_unique<MainThreadGate>(m_post, kMainThreadPatience);
  m_metrics = std::make_unique<MetricsText>();
  m_access = std::make_unique<WebAccess>(
      std::make_shared<tagserver::UserDirectory>(folder + kUsers), settings.anonymousLoopbackRead);
  m_server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  m_server->set_read_timeout(kReadTimeoutSeconds, 0);
  m_server->set_write_timeout(kReadTimeoutSeconds, 0);
  m_server->set_payload_max_length(kMaxBody);
  m_server->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) Answer(response, response.status, ErrorText(response.status));
  });
  Route("GET", "/metrics", WebRole::Read, [this](const auto&, auto& r) { Metrics(r); });
  Route("GET", "/health", WebRole::Read, [this](const auto&, auto& r) { Health(r); });
  Route("GET", "/api/status", WebRole::Read, [this](const auto&, auto& r) { Status(r); });
  for (const char* path : {"/", "/page/app.js", "/page/style.css"}) {
    Route("GET", path, WebRole::Read, [](const auto& request, auto& response) {
      const PageAsset* asset = FindPageAsset(request.path);
      response.set_content(asset->body, asset->type);
    });
  }
  Route("GET", "/api/events", WebRole::Read, [this](const auto&, auto& r) { Events(r); });
  Route("GET", "/api/config", WebRole::Read, [this](const auto&, auto& r) { Config(r); });
  Route("PUT", "/api/endpoints/(.+)", WebRole::ReadWrite,
        [this](const auto& q, auto& r) { Change(ConfigTables::kEndpoints, q, r); });
  Route("PUT", "/api/scans/(.+)", WebRole::ReadWrite,
        [this](const auto& q, auto& r) { Change(ConfigTables::kScans, q, r); });

  m_nPort = settings.port == 0 ? m_server->bind_to_any_port(settings.address)
                               : (m_server->bind_to_port(settings.address, settings.port)
                                      ? settings.port
                                      : -1);
  if (m_nPort <= 0) {
    if (error) *error = "cannot listen on " + settings.address + " port " + std::to_string(settings.port);
    m_server.reset();
    m_nPort = 0;
    return false;
  }
  m_listener = std::thread([server = m_server.get()] { server->listen_after_bind(); });
  const auto bound = std::chrono::steady_clock::now() + kListenerStartBound;
  while (!m_server->is_running() && std::chrono::steady_clock::now() < bound)
    std::this_thread::yield();
  return true;
}

bool WebServer::MakeServer(const HttpSettings& settings, const std::string& folder,
                           std::string* error) {
  if (!settings.https) {
    m_server = std::make_unique<httplib::Server>();
    return true;
  }
  const std::string certPath =
      settings.certificateFile.empty() ? folder + kCertificate : settings.certificateFile;
  const std::string keyPath = settings.keyFile.empty() ? folder + kPrivateKey : settings.keyFile;
  X509* certificate = ReadCertificate(certPath);
  EVP_PKEY* key = ReadKey(keyPath);
  if (certificate && key) m_server = std::make_unique<httplib::SSLServer>(certificate, key);
  X509_free(certificate);
  EVP_PKEY_free(key);
  if (m_server && m_server->is_valid()) return true;
  m_server.reset();
  if (error)
    *error = !certificate ? "cannot read the certificate " + certPath
             : !key       ? "cannot read the private key " + keyPath
                          : "the certificate " + certPath + " does not fit its key " + keyPath;
  return false;
}

void WebServer::Stop() {
  if (!m_server) return;
  {
    std::lock_guard<std::mutex> lock(m_stopMutex);
    m_bStopping = true;
  }
  m_stopped.notify_all();
  // Requests waiting for the main thread, which is here, give up first.
  if (m_gate) m_gate->Close();
  m_server->stop();
  if (m_listener.joinable()) m_listener.join();
  m_server.reset();
  m_access.reset();
  m_metrics.reset();
  m_gate.reset();
  m_nPort = 0;
  std::lock_guard<std::mutex> lock(m_stopMutex);
  m_bStopping = false;
}

void WebServer::LogLine(const std::string& line) {
  m_log.emplace_back(++m_nLogLines, line);
  if (m_log.size() > kLogLines) m_log.pop_front();
}

std::string WebServer::PageStatus(uint64_t& cursor) {
  std::string json = StatusJson::Of(m_runtime, m_figures(), true);
  std::string lines;
  for (const auto& [id, line] : m_log) {
    if (id <= cursor) continue;
    lines += (lines.empty() ? "" : ",") + StatusJson::Quoted(line);
    cursor = id;
  }
  json.pop_back();  // the closing brace, to add the log
  return json + ",\"log\":[" + lines + "]}";
}

// Server-sent events: the page's status once a period, until the client
// goes or the server stops.
void WebServer::Events(httplib::Response& response) {
  if (++m_nStreams > kMaxStreams) {
    --m_nStreams;
    return Answer(response, 429, "too many event streams open: close a page");
  }
  auto cursor = std::make_shared<uint64_t>(0);
  response.set_header("Cache-Control", "no-store");
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, cursor](size_t, httplib::DataSink& sink) {
        std::optional<std::string> json =
            m_gate->Call<std::string>([this, cursor] { return PageStatus(*cursor); });
        if (!json) return false;
        const std::string event = "data: " + *json + "\n\n";
        if (!sink.is_writable() || !sink.write(event.data(), event.size())) return false;
        std::unique_lock<std::mutex> lock(m_stopMutex);
        return !m_stopped.wait_for(lock, kStreamPeriod, [this] { return m_bStopping; });
      },
      [this](bool) { --m_nStreams; });
}

void WebServer::Route(const char* method, const char* path, WebRole need, Handler handler) {
  auto guarded = [this, need, handler](const httplib::Request& request,
                                       httplib::Response& response) {
    WebAccess::Request asking{request.get_header_value("Authorization"), request.remote_addr,
                              m_settings.https};
    AccessAnswer access = m_access->Check(asking);
    if (access.status != 200) {
      if (access.status == 401 && m_settings.https)
        response.set_header("WWW-Authenticate", "Basic realm=\"pelmoran\", charset=\"UTF-8\"");
      return Answer(response, access.status, access.message);
    }
    if (need == WebRole::ReadWrite && access.role != WebRole::ReadWrite)
      return Answer(response, 403, "changing needs a read-write user");
    handler(request, response);
  };
  if (std::string(method) == "PUT")
    m_server->Put(path, guarded);
  else
    m_server->Get(path, guarded);
}

void WebServer::Metrics(httplib::Response& response) {
  std::optional<std::string> text = m_gate->Call<std::string>([this] {
    return m_metrics->Of(m_runtime, m_figures(), SteadyMs());
  });
  if (!text) return Answer(response, 503, kBusy);
  response.set_content(std::move(*text), kMetricsType);
}

void WebServer::Status(httplib::Response& response) {
  std::optional<std::string> json = m_gate->Call<std::string>([this] {
    return StatusJson::Of(m_runtime, m_figures());
  });
  if (!json) return Answer(response, 503, kBusy);
  response.set_content(std::move(*json), kJson);
}

void WebServer::Config(httplib::Response& response) {
  std::optional<ConfigAnswer> answer =
      m_gate->Call<ConfigAnswer>([this] { return ConfigApi::Read(m_runtime, m_figures()); });
  if (!answer) return Answer(response, 503, kBusy);
  if (answer->status != 200) return Answer(response, answer->status, answer->text);
  response.set_content(std::move(answer->text), kJson);
}

void WebServer::Change(const char* table, const httplib::Request& request,
                       httplib::Response& response) {
  const std::string key = request.matches[1];
  const std::string body = request.body;
  std::optional<ConfigAnswer> answer = m_gate->Call<ConfigAnswer>([this, table, key, body] {
    return ConfigApi::Change(m_runtime, m_figures(), table, key, body);
  });
  if (!answer) return Answer(response, 503, kBusy);
  if (answer->status != 200) return Answer(response, answer->status, answer->text);
  response.set_content(std::move(answer->text), kJson);
}

void WebServer::Health(httplib::Response& response) {
  std::optional<std::vector<std::string>> reasons =
      m_gate->Call<std::vector<std::string>>([this] {
        return HealthCheck::Reasons(m_runtime, m_figures());
      });
  if (!reasons) return Answer(response, 503, kBusy);
  std::string text = reasons->empty() ? "OK\n" : "";
  for (const std::string& reason : *reasons) text += reason + "\n";
  response.status = reasons->empty() ? 200 : 503;
  response.set_content(text, kText);
}

}  // namespace web
