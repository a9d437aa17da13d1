// The one way a library thread reaches the program's state: the call is
// posted onto the main thread's event loop and runs there.
#pragma once

#include <functional>

// Queues fn for the main thread; dropped when no event loop object exists
// (before start-up or after the end of the program).
void PostToMainThread(std::function<void()> fn);
