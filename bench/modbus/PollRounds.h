// Rounds of back-to-back polls of one run through the library: each answer's
// callback sends the next poll until the round's time is up, so a round
// measures the link and the slave, not the thread that started it.
#pragma once

#include <chrono>

#include "modbuslib/modbuslib.h"

namespace bench {

// Ten holding registers of unit 1; the slave scripts hold 9 in the last one.
constexpr RequestHeader kTenRegisters{1, 3, 1, 10};

// The library's answer callback for the rounds (EnableModbusCallback).
void onPollAnswer(int handle, int spare1, int spare2);

// Polls the connection for about `length`; adds the good polls to `count` and
// returns the seconds the round took (0 when the first poll was refused).
double pollRound(int handle, std::chrono::milliseconds length, long& count);

}  // namespace bench
