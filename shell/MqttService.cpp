#include "shell/MqttService.h"

#include "platform/SharedVariant.h"
#include "runtime/MqttBridge.h"
#include "runtime/Runtime.h"
#include "shell/MainThread.h"

namespace {

using platform::LogLevel;

}  // namespace

MqttService::MqttService(const mqtt::MqttSettings& settings) : m_publisher(settings) {}

MqttService::~MqttService() {
  m_bridge.reset();
  m_publisher.Stop();
}

void MqttService::Say(LogLevel level, const std::string& text) {
  platform::log(level, platform::LogCategory::Mqtt, {}, text);
}

std::shared_ptr<MqttService> MqttService::Start(Runtime& runtime,
                                                const mqtt::MqttSettings& settings,
                                                const mqttconfig::ReadNotes& notes) {
  for (const std::string& line : notes.fallbacks) Say(LogLevel::Warning, line);
  if (!settings.enabled) return nullptr;
  if (!notes.error.empty()) {
    Say(LogLevel::Error, "not started: " + notes.error);
    return nullptr;
  }
  auto session = std::make_shared<MqttService>(settings);
  session->InstallHandlers();
  // Every tag is known before the first connection, so the first births hold them all.
  session->m_bridge = std::make_unique<MqttBridge>(runtime, session->m_publisher, settings.devices);
  std::string error;
  if (session->m_publisher.Start(&error)) return session;
  Say(LogLevel::Error, "not started: " + error);
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
}
