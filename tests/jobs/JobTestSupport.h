// Helpers of the job tests: waiting for a job's completion callback, reading
// image files back, and comparing images while leaving out the descriptor
// dates (each header generation stamps the time of day).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/image/ImageProject.h"

namespace velk::testing {

class Completion {
public:
    static void callback(std::int32_t failed, void* context) {
        auto* self = static_cast<Completion*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->failed_ = failed;
        self->calls_ += 1;
        self->done_.notify_all();
    }
    // Waits for the callback; -1 when it did not come in time.
    int wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_.wait_for(lock, limit, [this] { return calls_ > 0; })) return -1;
        return failed_;
    }
    int calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    int failed_ = -1;
    int calls_ = 0;
};

// Waits until every job thread of the project has ended.
inline bool waitForJobThreads(ImageProject& project, std::chrono::seconds limit = std::chrono::seconds(30)) {
    // Decided under the job fields' lock, so the threads are done with them.
    return project.jobs.waitUntil(limit, [&] { return project.jobs.runningThreads.load() == 0; });
}

inline std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True when the bytes outside the volume descriptors' date fields agree.
// The ISO 9660 and Joliet descriptors (blocks 16 to 19) carry four 17-byte
// dates from offset 813.
inline bool sameImageApartFromDates(const std::vector<std::uint8_t>& a,
                                    const std::vector<std::uint8_t>& b, std::string* where) {
    if (a.size() != b.size()) {
        *where = "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        std::size_t block = i / 2048, offset = i % 2048;
        if (block >= 16 && block < 20 && offset >= 813 && offset < 813 + 4 * 17) continue;
        *where = "byte " + std::to_string(i) + " (block " + std::to_string(block) + ", offset " +
                 std::to_string(offset) + ")";
        return false;
    }
    return true;
}

}  // namespace velk::testing
