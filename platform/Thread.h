// Worker threads with an explicit stack size and a best-effort priority.
#pragma once

#include <cstddef>
#include <functional>

namespace velk::platform {

enum class ThreadPriority { Idle, Lowest, BelowNormal, Normal, AboveNormal, Highest };

// Starts a detached thread running `body` with at least `stackSize` bytes of
// stack (raised to the system minimum; sanitizer builds may use more). The
// thread applies `priority` itself before it runs `body`. Returns false when
// the thread could not be created.
[[nodiscard]] bool startThread(std::size_t stackSize, ThreadPriority priority,
                               std::function<void()> body);

// Best effort: maps the priority to a nice value of the calling thread. A
// value is only raised (made nicer) when it can be lowered back again;
// otherwise the call changes nothing. Returns true when applied.
bool setCurrentThreadPriority(ThreadPriority priority);

void sleepMs(unsigned milliseconds);

}  // namespace velk::platform
