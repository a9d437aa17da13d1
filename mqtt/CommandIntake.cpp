#include "mqtt/CommandIntake.h"

#include <utility>
#include <vector>

#include "mqtt/PublishFormat.h"
#include "mqtt/PublisherContext.h"
#include "opcua/UaStatusCodes.h"

namespace mqtt {

namespace {

// OPC UA's Bad_Shutdown: what a command still pending when the publisher
// stops is answered with, for its write may or may not have happened.
constexpr uint32_t kBadShutdown = UaStatus::BadShutdown;

// Command numbers run on across every publisher of the process: the program
// may complete a command of a stopped publisher against its successor, which
// must then find no command of its own under that id.
std::atomic<uint64_t> g_lastCommand{0};

}  // namespace

CommandIntake::CommandIntake(PublisherContext& context, IPublishFormat& format)
    : m_context(context), m_format(format) {}

void CommandIntake::SetHandler(MqttPublisher::CommandHandler handler) {
  std::lock_guard lock(m_handlerMutex);
  m_handler = std::move(handler);
}

void CommandIntake::Dispatch(const WriteTarget& target, const ReceivedWrite& write,
                             WriteOrigin origin) {
  if (origin.device.empty()) origin.device = target.device;
  if (!target.writable) {
    Refuse(write.name, WriteRefusal::NotWritable, origin);
    return;
  }
  VARIANT value;
  if (const HRESULT hr = ValueConversion::ToVariant(write.value, target.type, &value); hr != S_OK) {
    // A number the tag's type cannot hold is refused as an OPC UA client's is.
    Refuse(write.name,
           hr == DISP_E_OVERFLOW ? WriteRefusal::OutOfRange : WriteRefusal::TypeMismatch, origin);
    return;
  }
  MqttPublisher::CommandHandler handler;
  {
    std::lock_guard lock(m_handlerMutex);
    handler = m_handler;
  }
  if (!handler) {
    VariantClear(&value);
    Refuse(write.name, WriteRefusal::NotWritable, origin);
    return;
  }
  ++m_received;
  const uint64_t id = MqttPublisher::kCommandIdBit | ++g_lastCommand;
  m_commands[id] = {target.handle, std::move(origin.idJson)};
  handler(target.handle, value, id);
  VariantClear(&value);
}

// A refused write is answered at once, the way a finished one is.
void CommandIntake::Refuse(const std::string& name, WriteRefusal why, const WriteOrigin& origin) {
  ++m_received;
  ++m_refused;
  const uint32_t status = static_cast<uint32_t>(why);
  m_context.LogAbout(platform::LogLevel::Warning, origin.device,
                     "refused a write of " + name + ": " + ValueConversion::StatusText(status));
  m_format.AnswerRefusal(name, status, origin);
}

void CommandIntake::CountUnreadable() {
  ++m_received;
  ++m_refused;
}

void CommandIntake::Complete(uint64_t commandId, uint32_t status) {
  const auto it = m_commands.find(commandId);
  if (it == m_commands.end()) return;
  const PendingCommand command = std::move(it->second);
  m_commands.erase(it);
  MetricSample answer;
  {
    std::lock_guard lock(m_context.mutex);
    if (!m_context.table.Sample(command.handle, &answer)) return;
  }
  answer.writeStatus = status;
  m_format.AnswerWrite(answer, command.idJson);
}

// The program completes a command against the publisher that issued it, and
// this one is going: its client is told now rather than never.
void CommandIntake::AbandonAll() {
  std::vector<uint64_t> pending;
  pending.reserve(m_commands.size());
  for (const auto& [id, command] : m_commands) pending.push_back(id);
  for (uint64_t id : pending) Complete(id, kBadShutdown);
}

}  // namespace mqtt
