// Job fields that the recording jobs share with the project. The user
// interface and the other job thread poll them, so every one that crosses
// threads is atomic.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/core/ChunkQueue.h"
#include "engine/core/EngineTypes.h"

namespace velk {

struct JobFields {
    std::atomic<std::int32_t> jobState{0};
    std::atomic<std::int32_t> stopRequested{0};
    std::atomic<std::int32_t> chunkCount{0};  // mirrors queue.size() for GetBufferFill
    std::atomic<std::int32_t> bufferSize{0};
    std::atomic<std::uint32_t> blocksWritten{0};

    // Set-up switches: at most one of toFile / fromFile is set.
    std::int32_t toFile = 0;
    std::int32_t fromFile = 0;
    std::int32_t closeOnly = 0;
    std::uint32_t chunkSize = 0;
    // Blocks of the first chunk that the writer also writes at address 0 of
    // a medium overwritten in place; 0: the whole chunk. Set by the burn
    // set-up when the image grows a volume.
    std::uint32_t discStartBlocks = 0;
    CompletionCallback completionCallback = nullptr;

    // The image file of a file job: its path and, while the job runs, its
    // stream. An image written to a regular file goes to imageTempPath
    // beside it and takes its place only when the job succeeds.
    std::string imagePath;
    std::string imageTarget;  // imagePath with its links resolved
    std::string imageTempPath;
    std::FILE* imageFile = nullptr;

    // The system's error code of the last file operation that failed (0
    // when none failed since the job started).
    std::atomic<std::int32_t> lastSystemError{0};
    // Source files that had grown since planning: written with their
    // planned size (guarded by the project lock).
    std::vector<std::u16string> grownFiles;

    // Verification: read the written blocks back after the closing (a
    // project switch, 0 after every reset), the blocks compared so far and
    // the first block that failed.
    std::int32_t verifyOn = 0;
    std::atomic<std::uint32_t> blocksVerified{0};
    std::uint32_t verifyFailedBlock = 0;

    // Producer / writer hand-over.
    ChunkQueue queue;
    std::uint32_t maxChunks = 0;
    std::atomic<std::uint8_t> bufferPrimed{0};
    std::atomic<std::uint8_t> producerFinished{0};
    std::atomic<std::int32_t> lastChunkSealed{0};
    std::atomic<std::uint64_t> blocksProduced{0};
    std::atomic<std::int32_t> producerPriority{-1};

    // Job threads still running; the engine waits for them before it goes.
    std::atomic<std::int32_t> runningThreads{0};

    // Wakes a job thread that waits for the other one (a chunk put or taken,
    // a stop, a thread's end). Every wait still has the time limit of the
    // poll it replaces, so a flag set without a notification (Abort) is seen
    // as soon as before.
    std::mutex waitMutex;
    std::condition_variable changed;

    void notify() {
        { std::lock_guard<std::mutex> lock(waitMutex); }
        changed.notify_all();
    }
    // The last thing a job thread does: the count drops and the waiters are
    // woken under the lock, so whoever sees the count reach 0 under that lock
    // knows the thread no longer touches these fields.
    void threadEnded() {
        std::lock_guard<std::mutex> lock(waitMutex);
        --runningThreads;
        changed.notify_all();
    }
    // Waits until every job thread has ended (see threadEnded).
    void waitForThreads() {
        while (!waitUntil(std::chrono::milliseconds(100), [this] { return runningThreads.load() == 0; })) {
        }
    }
    template <typename Predicate>
    bool waitUntil(std::chrono::milliseconds limit, Predicate done) {
        std::unique_lock<std::mutex> lock(waitMutex);
        return changed.wait_for(lock, limit, done);
    }
};

}  // namespace velk
