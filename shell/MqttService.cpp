#include "shell/MqttService.h"

#include "platform/SharedVariant.h"
#include "runtime/MqttBridge.h"
#include "runtime/Runtime.h"
#include "shell/LibraryLog.h"
#include "shell/MainThread.h"

namespace {

constexpr int kSyslogError = 3;
constexpr int kSyslogWarning = 4;
constexpr int kSyslogInformation = 6;

}  // namespace

MqttService::MqttService(const mqtt::MqttSettings& settings) : m_publisher(settings) {}

MqttService::~MqttService() {
  m_bridge.reset();
  m_publisher.Stop();
}

int MqttService::SyslogLevel(int level) {
  if (level <= 0) return kSyslogError;
  return level == 1 ? kSyslogWarning : kSyslogInformation;
}

std::shared_ptr<MqttService> MqttService::Start(Runtime& runtime,
                                                const mqtt::MqttSettings& settings,
                                                const mqttconfig::ReadNotes& notes) {
  for (const std::string& line : notes.fallbacks)
    LibraryLog::onMqttLine(SyslogLevel(1), "MQTT: " + line);
  if (!settings.enabled) return nullptr;
  if (!notes.error.empty()) {
    LibraryLog::onMqttLine(SyslogLevel(0), "MQTT: not started: " + notes.error);
    return nullptr;
  }
  auto session = std::make_shared<MqttService>(settings);
  session->InstallHandlers();
  // Every tag is known before the first connection, so the first births hold them all.
  session->m_bridge = std::make_unique<MqttBridge>(runtime, session->m_adapter, settings.devices);
  std::string error;
  if (session->m_publisher.Start(&error)) return session;
  LibraryLog::onMqttLine(SyslogLevel(0), "MQTT: not started: " + error);
  return nullptr;
}

void MqttService::InstallHandlers() {
  std::weak_ptr<MqttService> weak = weak_from_this();
  // A command still queued when its session has ended goes nowhere: the
  // session that took it from the broker is gone, and its answer with it.
  m_publisher.SetCommandHandler([weak](int32_t handle, const VARIANT& value, uint64_t commandId) {
    PostToMainThread([weak, handle, copy = SharedVariantCopy(&value), commandId] {
      if (std::shared_ptr<MqttService> session = weak.lock())
        session->m_bridge->OnCommand(handle, *copy, commandId);
    });
  });
  m_publisher.SetLogHandler(
      [](int level, const std::string& text) { LibraryLog::onMqttLine(SyslogLevel(level), text); });
}
