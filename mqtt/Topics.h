// The topic names the gateway publishes under and listens on.
#pragma once

#include <string>
#include <string_view>

namespace mqtt {

// The Sparkplug message types, as their topics spell them.
enum class SparkplugMessage { NBIRTH, NDEATH, DBIRTH, DDEATH, NDATA, DDATA, NCMD, DCMD };

class Topics {
 public:
  // One topic level: '/', '+' and '#', which MQTT reserves, become '_'.
  // Inline, for the program names its devices with it without linking the
  // library.
  static std::string Level(std::string_view text) {
    std::string level(text);
    for (char& c : level) {
      if (c == '/' || c == '+' || c == '#') c = '_';
    }
    return level;
  }
  static std::string Sparkplug(const std::string& group, SparkplugMessage type,
                               const std::string& node, const std::string& device = {});
  // Where a Sparkplug primary host application says whether it is online.
  static std::string SparkplugState(const std::string& hostId);
  // "<endpoint>/<tag>" below the JSON prefix.
  static std::string TagPath(const std::string& endpoint, const std::string& name);
  static constexpr std::string_view kSetSuffix = "/set";
  static constexpr std::string_view kResultSuffix = "/set/result";

 private:
  static const char* Name(SparkplugMessage type);
};

}  // namespace mqtt
