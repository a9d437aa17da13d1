#include "mqtt/Topics.h"

namespace mqtt {

namespace {
constexpr std::string_view kNamespace = "spBv1.0/";
}

const char* Topics::Name(SparkplugMessage type) {
  switch (type) {
    case SparkplugMessage::NBIRTH: return "NBIRTH";
    case SparkplugMessage::NDEATH: return "NDEATH";
    case SparkplugMessage::DBIRTH: return "DBIRTH";
    case SparkplugMessage::DDEATH: return "DDEATH";
    case SparkplugMessage::NDATA: return "NDATA";
    case SparkplugMessage::DDATA: return "DDATA";
    case SparkplugMessage::NCMD: return "NCMD";
    case SparkplugMessage::DCMD: return "DCMD";
  }
  return "";
}

std::string Topics::Sparkplug(const std::string& group, SparkplugMessage type,
                              const std::string& node, const std::string& device) {
  std::string topic = std::string(kNamespace) + Level(group) + "/" + Name(type) + "/" + Level(node);
  if (!device.empty()) topic += "/" + Level(device);
  return topic;
}

std::string Topics::SparkplugState(const std::string& hostId) {
  return std::string(kNamespace) + "STATE/" + Level(hostId);
}

std::string Topics::TagPath(const std::string& endpoint, const std::string& name) {
  return Level(endpoint) + "/" + Level(name);
}

}  // namespace mqtt
