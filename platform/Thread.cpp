// Worker threads on pthreads.
//
// Stack size: a request of 0 takes the system's default stack; any other
// request is raised to PTHREAD_STACK_MIN and rounded up to whole pages.
// Sanitizer builds need far more stack per frame, so there every thread
// gets at least 1 MiB.
//
// Priority: Linux keeps a nice value per thread, so a priority becomes the
// nice value of the thread itself (setpriority on its thread id), relative
// to the nice value the process's main thread had when priorities were first
// used: Highest -10, AboveNormal -5, Normal 0, BelowNormal +5, Lowest +10,
// Idle +19 (clamped to -20..19). An unprivileged thread cannot lower its nice
// value again, so a nicer value is only set when RLIMIT_NICE or
// CAP_SYS_NICE lets the thread return to where it is; a value it may not
// take is left alone. The thread still runs either way.
#include "platform/Thread.h"

#include <linux/capability.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>
#include <thread>

namespace velk::platform {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t MinimumStack = std::size_t{1} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr std::size_t MinimumStack = std::size_t{1} << 20;
#else
constexpr std::size_t MinimumStack = 0;
#endif
#else
constexpr std::size_t MinimumStack = 0;
#endif

std::size_t effectiveStackSize(std::size_t requested) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t size = std::max({requested, static_cast<std::size_t>(PTHREAD_STACK_MIN),
                                 MinimumStack});
    return (size + page - 1) / page * page;
}

int niceOffset(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::Highest: return -10;
    case ThreadPriority::AboveNormal: return -5;
    case ThreadPriority::Normal: return 0;
    case ThreadPriority::BelowNormal: return 5;
    case ThreadPriority::Lowest: return 10;
    case ThreadPriority::Idle: return 19;
    }
    return 0;
}

std::optional<int> niceOf(id_t thread) {
    errno = 0;
    const int value = getpriority(PRIO_PROCESS, thread);
    if (value == -1 && errno != 0) {
        return std::nullopt;
    }
    return value;
}

int baseNice() {
    static const int base = niceOf(static_cast<id_t>(getpid())).value_or(0);
    return base;
}

bool hasSysNiceCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    return (data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))) != 0;
}

// Whether this thread may set its nice value to `value` (lower than its
// current one) without privileges: RLIMIT_NICE's soft limit r allows values
// down to 20 - r.
bool mayLowerNiceTo(int value) {
    if (hasSysNiceCapability()) {
        return true;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0) {
        return false;
    }
    if (limit.rlim_cur == RLIM_INFINITY) {
        return true;
    }
    return value >= 20 - static_cast<long long>(limit.rlim_cur);
}

struct ThreadStart {
    ThreadPriority priority;
    std::function<void()> body;
};

extern "C" void* runThread(void* arg) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
    setCurrentThreadPriority(start->priority);
    start->body();
    return nullptr;
}

}  // namespace

bool startThread(std::size_t stackSize, ThreadPriority priority, std::function<void()> body) {
    if (!body) {
        return false;
    }
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    bool ok = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0;
    if (ok && stackSize != 0) {
        ok = pthread_attr_setstacksize(&attr, effectiveStackSize(stackSize)) == 0;
    } else if (ok && MinimumStack != 0) {
        size_t current = 0;
        pthread_attr_getstacksize(&attr, &current);
        if (current < MinimumStack) {
            ok = pthread_attr_setstacksize(&attr, MinimumStack) == 0;
        }
    }
    auto start = std::make_unique<ThreadStart>(ThreadStart{priority, std::move(body)});
    pthread_t thread;
    if (ok && pthread_create(&thread, &attr, runThread, start.get()) == 0) {
        start.release();  // the thread owns it now
    } else {
        ok = false;
    }
    pthread_attr_destroy(&attr);
    return ok;
}

bool setCurrentThreadPriority(ThreadPriority priority) {
    const auto self = static_cast<id_t>(gettid());
    const int target = std::clamp(baseNice() + niceOffset(priority), -20, 19);
    const std::optional<int> current = niceOf(self);
    if (!current) {
        return false;
    }
    if (target == *current) {
        return true;
    }
    if (target > *current && !mayLowerNiceTo(*current)) {
        return false;
    }
    return setpriority(PRIO_PROCESS, self, target) == 0;
}

void sleepMs(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace velk::platform
