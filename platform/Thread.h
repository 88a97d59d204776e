// Worker threads with an explicit stack size and a best-effort priority.
#pragma once

#include <cstddef>
#include <functional>

namespace velk::platform {

enum class ThreadPriority { Idle, Lowest, BelowNormal, Normal, AboveNormal, Highest };

// Starts a detached thread running `body` with at least `stackSize` bytes of
// stack (raised to the system minimum and rounded up to whole pages; 0 takes
// the system's default stack; sanitizer builds use at least 1 MiB). The
// thread applies `priority` itself before it runs `body`. Returns false when
// the thread could not be created or `body` is empty. `body` must not throw.
[[nodiscard]] bool startThread(std::size_t stackSize, ThreadPriority priority,
                               std::function<void()> body);

// Best effort: maps the priority to a nice value of the calling thread,
// relative to the main thread's nice value when priorities were first used:
// Highest -10, AboveNormal -5, Normal 0, BelowNormal +5, Lowest +10,
// Idle +19 (clamped to -20..19). A value is only raised (made nicer) when it
// can be lowered back again (CAP_SYS_NICE, or RLIMIT_NICE allows it);
// otherwise the call changes nothing. Returns true when the thread now has
// the mapped value.
bool setCurrentThreadPriority(ThreadPriority priority);

void sleepMs(unsigned milliseconds);

}  // namespace velk::platform
