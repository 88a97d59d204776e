// One-shot completion event: set() wakes every waiter and stays set until
// reset(). Header-only, because the engine and the plugin libraries that
// signal it (the virtual recorder) each compile their own copy.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velk::platform {

class Event {
public:
    // Notifies under the lock: a waiter that wakes may destroy the event at
    // once, so set() must be done with it before the waiter can return.
    void set() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        cond_.notify_all();
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [this] { return signalled_; });
    }
    // Returns true when the event was set before the time ran out.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cond_.wait_for(lock, timeout, [this] { return signalled_; });
    }
    bool isSet() {
        std::lock_guard<std::mutex> lock(mutex_);
        return signalled_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool signalled_ = false;
};

}  // namespace velk::platform
