// The gateway's live status as one JSON document, for the API and the page:
// each endpoint with its state and counts, each slave node polled, each
// open scan with its status. Main thread: it reads the runtime.
#pragma once

#include <string>

#include "web/ProgramFigures.h"

class Runtime;

namespace web {

struct StatusJson {
  // withTags: each scan's tags with their last good values and quality, and
  // its poll period, for the page.
  static std::string Of(Runtime& runtime, const ProgramFigures& figures, bool withTags = false);
  // text as a JSON string, quotes included.
  static std::string Quoted(const std::string& text);
};

}  // namespace web
