// The audible warning of a refused write. It never blocks the caller: the tone
// is produced on a thread of its own, and tests can see that it was asked for.
#pragma once

#include <functional>

void Beep(unsigned frequencyHz, unsigned durationMs);

// Replaces what Beep does (tests record the calls); an empty function restores
// the real bell.
void SetBeepHandler(std::function<void(unsigned, unsigned)> handler);
