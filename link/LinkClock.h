// The clock that the link's timing decisions read. Tests hand in a clock of
// their own, so that holding a device back or waiting to reconnect is
// checked without waiting.
#pragma once

#include <chrono>
#include <functional>

using LinkClock = std::chrono::steady_clock;
using LinkNow = std::function<LinkClock::time_point()>;
