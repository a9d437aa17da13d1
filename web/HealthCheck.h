// Whether the gateway does its work, for load balancers and watchdogs: the
// reasons it does not, each a line; none means healthy. Main thread.
#pragma once

#include <string>
#include <vector>

#include "web/ProgramFigures.h"

class Runtime;

namespace web {

struct HealthCheck {
  // An endpoint that scans use and requests cannot reach, a demoted slave
  // node, a scan whose last poll failed, an enabled MQTT publisher away from
  // its broker.
  static std::vector<std::string> Reasons(Runtime& runtime, const ProgramFigures& figures);
};

}  // namespace web
