// Verification of a burn: the digests of every chunk the writer sends, and
// the pass that reads the written blocks back and compares them.
//
// Verifying should cost one extra read pass and not the hashing too: the
// digests are taken on a thread of their own while the next WRITEs go out,
// and both halves hash groups of chunks side by side where they can (see
// Sha256::ofMany). The read-back reads in the writer's thread, which alone
// drives the recorder, while a second thread hashes what was read; the
// reader hashes too whenever its buffers are full, so the two processors
// share the work whatever a read costs against a hash.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/core/ChunkQueue.h"
#include "engine/device/RecorderDevice.h"
#include "engine/jobs/Digests.h"

namespace velk::jobs {

// What was sent of one chunk: where, how many blocks, its SHA-256 and, to
// name the first bad block of a chunk that differs, the print of the hash
// after each block (see Sha256::of).
struct WrittenChunk {
    std::uint32_t address = 0;
    std::uint32_t blocks = 0;
    Sha256Digest digest{};
    std::array<std::uint64_t, ChunkBlocks> prefixPrints{};
};

class ChunkDigests {
public:
    using GiveBack = std::function<void(std::unique_ptr<std::uint8_t[]>)>;
    // `giveBack` receives every buffer handed over with take() once hashed.
    explicit ChunkDigests(GiveBack giveBack = {}) : giveBack_(std::move(giveBack)) {}
    ~ChunkDigests();
    ChunkDigests(const ChunkDigests&) = delete;
    ChunkDigests& operator=(const ChunkDigests&) = delete;

    // Takes a copy of the chunk just written; waits while several chunks are
    // still to be hashed.
    void add(std::uint32_t address, std::uint32_t blocks, const std::uint8_t* data);
    // The same for a buffer that is not needed any more: it is hashed in
    // place and then given back, which saves the copy.
    void take(std::uint32_t address, std::uint32_t blocks, std::unique_ptr<std::uint8_t[]> data);
    // Every chunk added, hashed, in the order added. The hashing thread has
    // ended when it returns, so no buffer is given back after it.
    const std::vector<WrittenChunk>& finish();

private:
    struct Pending {
        std::uint32_t address;
        std::uint32_t blocks;
        std::unique_ptr<std::uint8_t[]> data;
        bool given;  // handed over with take(): goes back through giveBack_
    };
    void queue(Pending next);
    void hashPending();
    void giveBackAll(std::vector<Pending>& hashed);

    GiveBack giveBack_;
    std::mutex mutex_;
    std::condition_variable work_;  // the hashing thread waits here
    std::condition_variable room_;  // the writer waits here for room
    bool hasherWaiting_ = false;
    bool writerWaiting_ = false;
    std::deque<Pending> pending_;
    std::vector<WrittenChunk> done_;
    std::thread worker_;
    bool finishing_ = false;
};

// Reads every chunk back with READ (10) and FUA, 32 blocks at a time, in
// order, and compares. `stopped` is asked between chunks; `verified` hears the blocks of
// each chunk that matched. The first bad block (one that differs or cannot
// be read), or nothing when every block matched or the pass was stopped;
// `wasStopped` tells the two apart.
std::optional<std::uint32_t> verifyChunks(RecorderDevice& device, const std::vector<WrittenChunk>& chunks,
                                          const std::function<bool()>& stopped,
                                          const std::function<void(std::uint32_t)>& verified, bool& wasStopped);

}  // namespace velk::jobs
