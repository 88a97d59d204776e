#include "engine/jobs/Verification.h"

#include <cstring>

#include "engine/device/MmcCommands.h"
#include "engine/jobs/RecorderWaits.h"

namespace velk::jobs {
namespace {

constexpr std::uint32_t BlockBytes = 2048;
// Copies waiting for the hashing thread, and chunks read ahead.
constexpr std::size_t PendingLimit = 8;
constexpr std::size_t ReadAhead = 4;

WrittenChunk digestOf(std::uint32_t address, std::uint32_t blocks, const std::uint8_t* data) {
    WrittenChunk chunk;
    chunk.address = address;
    chunk.blocks = blocks;
    chunk.digest = Sha256::of(data, std::size_t{blocks} * BlockBytes);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        chunk.blockPrints[b] = blockFingerprint(data + std::size_t{b} * BlockBytes, BlockBytes);
    }
    return chunk;
}

// READ (10) with FUA, sent again while the recorder is busy or not ready.
bool readFromMedium(RecorderDevice& device, std::uint32_t address, std::uint32_t blocks, std::uint8_t* buffer) {
    for (std::uint32_t attempt = 1;; ++attempt) {
        if (mmc::Read10(device, address, static_cast<std::uint16_t>(blocks), buffer, 1)) return true;
        bool busy = device.busy != 0 || lastAsc(device) == AscNotReady;
        if (!busy || attempt >= 5000) return false;
        pauseFor(device, std::chrono::milliseconds(100));
    }
}

// The first block of `chunk` that differs from what was sent.
std::uint32_t firstDifferingBlock(const WrittenChunk& chunk, const std::uint8_t* data) {
    for (std::uint32_t b = 0; b < chunk.blocks; ++b) {
        if (blockFingerprint(data + std::size_t{b} * BlockBytes, BlockBytes) != chunk.blockPrints[b]) {
            return chunk.address + b;
        }
    }
    return chunk.address;
}

}  // namespace

ChunkDigests::~ChunkDigests() { (void)finish(); }

void ChunkDigests::add(std::uint32_t address, std::uint32_t blocks, const std::uint8_t* data) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[std::size_t{blocks} * BlockBytes]);
    std::memcpy(copy.get(), data, std::size_t{blocks} * BlockBytes);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!worker_.joinable()) worker_ = std::thread([this] { hashPending(); });
    changed_.wait(lock, [this] { return pending_.size() < PendingLimit; });
    pending_.push_back({address, blocks, std::move(copy)});
    changed_.notify_all();
}

void ChunkDigests::hashPending() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return !pending_.empty() || finishing_; });
        if (pending_.empty()) return;  // finishing, nothing left
        Pending next = std::move(pending_.front());
        pending_.pop_front();
        changed_.notify_all();
        lock.unlock();
        WrittenChunk chunk = digestOf(next.address, next.blocks, next.data.get());
        lock.lock();
        done_.push_back(chunk);
    }
}

const std::vector<WrittenChunk>& ChunkDigests::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
        changed_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    return done_;
}

std::optional<std::uint32_t> verifyChunks(RecorderDevice& device, const std::vector<WrittenChunk>& chunks,
                                          const std::function<bool()>& stopped,
                                          const std::function<void(std::uint32_t)>& verified, bool& wasStopped) {
    wasStopped = false;
    struct Slot {
        std::unique_ptr<std::uint8_t[]> data{new std::uint8_t[ChunkBytes]};
        bool filled = false;
        bool readable = false;
    };
    std::array<Slot, ReadAhead> slots;
    std::mutex mutex;
    std::condition_variable changed;
    bool quit = false;

    // The read-ahead thread drives the recorder alone until it is joined.
    std::thread reader([&] {
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            Slot& slot = slots[i % ReadAhead];
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !slot.filled || quit; });
                if (quit) return;
            }
            bool readable = readFromMedium(device, chunks[i].address, chunks[i].blocks, slot.data.get());
            std::lock_guard<std::mutex> lock(mutex);
            slot.readable = readable;
            slot.filled = true;
            changed.notify_all();
            if (!readable) return;  // the comparison stops here
        }
    });

    std::optional<std::size_t> unreadable;
    std::optional<std::uint32_t> bad;
    for (std::size_t i = 0; i < chunks.size() && !bad && !unreadable; ++i) {
        if (stopped()) {
            wasStopped = true;
            break;
        }
        Slot& slot = slots[i % ReadAhead];
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return slot.filled; });
        }
        const WrittenChunk& chunk = chunks[i];
        if (!slot.readable) {
            unreadable = i;
        } else if (Sha256::of(slot.data.get(), std::size_t{chunk.blocks} * BlockBytes) != chunk.digest) {
            bad = firstDifferingBlock(chunk, slot.data.get());
        } else {
            verified(chunk.blocks);
        }
        std::lock_guard<std::mutex> lock(mutex);
        slot.filled = false;
        changed.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        changed.notify_all();
    }
    reader.join();

    if (unreadable) {
        // Which block of the chunk cannot be read, now that the recorder is
        // free again.
        const WrittenChunk& chunk = chunks[*unreadable];
        std::unique_ptr<std::uint8_t[]> one(new std::uint8_t[BlockBytes]);
        bad = chunk.address;
        for (std::uint32_t b = 0; b < chunk.blocks; ++b) {
            if (!readFromMedium(device, chunk.address + b, 1, one.get())) {
                bad = chunk.address + b;
                break;
            }
        }
    }
    return bad;
}

}  // namespace velk::jobs
