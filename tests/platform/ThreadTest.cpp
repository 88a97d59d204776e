#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <functional>
#include <thread>

#include "platform/Event.h"

namespace velk::platform {
namespace {

using namespace std::chrono_literals;

int niceOf(pid_t thread) {
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
}

// Runs `body` on a started thread and waits for it.
template <typename Body>
void runOnThread(std::size_t stackSize, ThreadPriority priority, Body body) {
    Event done;
    ASSERT_TRUE(startThread(stackSize, priority, [&] {
        body();
        done.set();
    }));
    ASSERT_TRUE(done.waitFor(10s));
}

std::size_t currentStackSize() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) {
        return 0;
    }
    std::size_t size = 0;
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
    return size;
}

TEST(ThreadTest, RunsTheBodyOnAnotherThread) {
    const pid_t caller = gettid();
    std::atomic<pid_t> worker{0};
    runOnThread(0, ThreadPriority::Normal, [&] { worker = gettid(); });
    EXPECT_NE(worker.load(), 0);
    EXPECT_NE(worker.load(), caller);
}

TEST(ThreadTest, StackHasAtLeastTheRequestedSize) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    for (std::size_t requested : {std::size_t{1}, std::size_t{100'000}, std::size_t{1} << 20,
                                  std::size_t{8} << 20}) {
        std::size_t got = 0;
        runOnThread(requested, ThreadPriority::Normal, [&] { got = currentStackSize(); });
        EXPECT_GE(got, requested) << requested;
        EXPECT_GE(got, static_cast<std::size_t>(PTHREAD_STACK_MIN)) << requested;
        EXPECT_EQ(got % page, 0u) << requested;
    }
}

TEST(ThreadTest, DeepStackUseFitsTheRequest) {
    // 4 MiB of stack in one frame would overflow a 1 MiB thread.
    std::atomic<unsigned> sum{0};
    runOnThread(6u << 20, ThreadPriority::Normal, [&] {
        volatile unsigned char big[4u << 20];
        for (std::size_t i = 0; i < sizeof big; i += 4096) {
            big[i] = static_cast<unsigned char>(i >> 12);
        }
        unsigned s = 0;
        for (std::size_t i = 0; i < sizeof big; i += 4096) {
            s += big[i];
        }
        sum = s;
    });
    EXPECT_NE(sum.load(), 0u);
}

TEST(ThreadTest, EmptyBodyIsRefused) {
    EXPECT_FALSE(startThread(0, ThreadPriority::Normal, std::function<void()>{}));
}

TEST(ThreadTest, PriorityIsAppliedBeforeTheBodyOnlyToThatThread) {
    const int mainNice = niceOf(getpid());
    int seen = 0;
    bool appliedAgain = false;
    runOnThread(0, ThreadPriority::Lowest, [&] {
        seen = niceOf(gettid());
        appliedAgain = setCurrentThreadPriority(ThreadPriority::Lowest);
    });
    if (appliedAgain) {
        EXPECT_EQ(seen, std::min(mainNice + 10, 19));
    } else {
        EXPECT_EQ(seen, mainNice);
    }
    EXPECT_EQ(niceOf(getpid()), mainNice);
}

TEST(ThreadTest, NicerPriorityCanAlwaysBeUndone) {
    const int mainNice = niceOf(getpid());
    runOnThread(0, ThreadPriority::Normal, [&] {
        for (ThreadPriority p : {ThreadPriority::BelowNormal, ThreadPriority::Lowest,
                                 ThreadPriority::Idle}) {
            if (setCurrentThreadPriority(p)) {
                EXPECT_GT(niceOf(gettid()), mainNice);
                EXPECT_TRUE(setCurrentThreadPriority(ThreadPriority::Normal));
            }
            EXPECT_EQ(niceOf(gettid()), mainNice);
        }
    });
}

bool dropSysNice() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const unsigned bit = 1u << (CAP_SYS_NICE % 32);
    data[CAP_SYS_NICE / 32].effective &= ~bit;
    data[CAP_SYS_NICE / 32].permitted &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

// In a child process without CAP_SYS_NICE and with the given RLIMIT_NICE:
// asks for Lowest and then Normal; the exit code reports what happened.
int unprivilegedLowestThenNormal(rlim_t niceLimit) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{niceLimit, niceLimit};
        if (!dropSysNice() || setrlimit(RLIMIT_NICE, &limit) != 0 ||
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 0) != 0) {
            _exit(90);
        }
        const bool lowest = setCurrentThreadPriority(ThreadPriority::Lowest);
        const int niceAfterLowest = niceOf(gettid());
        const bool normal = setCurrentThreadPriority(ThreadPriority::Normal);
        const int niceAfterNormal = niceOf(gettid());
        if (lowest && niceAfterLowest == 10 && normal && niceAfterNormal == 0) _exit(1);
        if (!lowest && niceAfterLowest == 0 && normal && niceAfterNormal == 0) _exit(2);
        _exit(3);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// RLIMIT_NICE 0 allows no lowering at all, so Lowest must be refused: once
// applied it could never be undone.
TEST(ThreadTest, UnprivilegedThreadStaysPutWhenItCouldNotComeBack) {
    if (niceOf(getpid()) != 0) {
        GTEST_SKIP() << "needs a process at nice 0";
    }
    const int result = unprivilegedLowestThenNormal(0);
    if (result == 90) {
        GTEST_SKIP() << "cannot drop CAP_SYS_NICE here";
    }
    EXPECT_EQ(result, 2);
}

// RLIMIT_NICE 20 allows nice values down to 0: Lowest is applied and undone.
TEST(ThreadTest, UnprivilegedThreadIsMadeNicerWhenRlimitLetsItComeBack) {
    rlimit limit{};
    if (niceOf(getpid()) != 0 || getrlimit(RLIMIT_NICE, &limit) != 0 ||
        (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 20)) {
        GTEST_SKIP() << "needs a process at nice 0 and a hard RLIMIT_NICE of at least 20";
    }
    const int result = unprivilegedLowestThenNormal(20);
    if (result == 90) {
        GTEST_SKIP() << "cannot drop CAP_SYS_NICE here";
    }
    EXPECT_EQ(result, 1);
}

// How long a sleep lasts is the wall clock's business, which no test reads;
// what a caller relies on is that a sleeping thread wakes up and goes on,
// for no time at all too.
TEST(ThreadTest, SleepWakesTheCallerUp) {
    std::atomic<int> sleeps{0};
    std::thread sleeper([&] {
        for (unsigned ms : {0u, 1u, 2u}) {
            sleepMs(ms);
            ++sleeps;
        }
    });
    sleeper.join();
    EXPECT_EQ(sleeps.load(), 3);
}

}  // namespace
}  // namespace velk::platform
