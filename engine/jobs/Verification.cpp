#include "engine/jobs/Verification.h"

#include <cstring>

#include "engine/device/MmcCommands.h"
#include "engine/jobs/RecorderWaits.h"

namespace velk::jobs {
namespace {

constexpr std::uint32_t BlockBytes = 2048;
// Chunks waiting for the hashing thread (2 MiB), two groups of
// Sha256::MaxLanes: enough that the writer and the hashing thread seldom
// wait for each other.
constexpr std::size_t PendingLimit = 32;
// Chunks the read-back may hold read and not yet compared (4 MiB).
constexpr std::size_t ReadSlots = 64;
constexpr std::size_t NoChunk = static_cast<std::size_t>(-1);

std::size_t bytesOf(std::uint32_t blocks) { return std::size_t{blocks} * BlockBytes; }

// READ (10) with FUA, sent again while the recorder is busy or not ready.
bool readFromMedium(RecorderDevice& device, std::uint32_t address, std::uint32_t blocks, std::uint8_t* buffer) {
    for (std::uint32_t attempt = 1;; ++attempt) {
        if (mmc::Read10(device, address, static_cast<std::uint16_t>(blocks), buffer, 1)) return true;
        bool busy = device.busy != 0 || lastAsc(device) == AscNotReady;
        if (!busy || attempt >= 5000) return false;
        pauseFor(device, std::chrono::milliseconds(100));
    }
}

// The first block of `chunk` that differs from what was sent: where the
// prints of the hash after each block first differ.
std::uint32_t firstDifferingBlock(const WrittenChunk& chunk, const std::uint8_t* data) {
    std::array<std::uint64_t, ChunkBlocks> prints{};
    (void)Sha256::of(data, bytesOf(chunk.blocks), BlockBytes, prints.data());
    for (std::uint32_t b = 0; b < chunk.blocks; ++b) {
        if (prints[b] != chunk.prefixPrints[b]) return chunk.address + b;
    }
    // Prints that all match with digests that do not: the last block.
    return chunk.address + (chunk.blocks > 0 ? chunk.blocks - 1 : 0);
}

WrittenChunk chunkAt(std::uint32_t address, std::uint32_t blocks) {
    WrittenChunk chunk;
    chunk.address = address;
    chunk.blocks = blocks;
    return chunk;
}

}  // namespace

ChunkDigests::~ChunkDigests() { (void)finish(); }

void ChunkDigests::add(std::uint32_t address, std::uint32_t blocks, const std::uint8_t* data) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[ChunkBytes]);
    std::memcpy(copy.get(), data, bytesOf(blocks));
    queue({address, blocks, std::move(copy), false});
}

void ChunkDigests::take(std::uint32_t address, std::uint32_t blocks, std::unique_ptr<std::uint8_t[]> data) {
    queue({address, blocks, std::move(data), static_cast<bool>(giveBack_)});
}

void ChunkDigests::queue(Pending next) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!worker_.joinable()) worker_ = std::thread([this] { hashPending(); });
    if (pending_.size() >= PendingLimit) {
        writerWaiting_ = true;
        room_.wait(lock, [this] { return pending_.size() <= PendingLimit / 2; });
        writerWaiting_ = false;
    }
    pending_.push_back(std::move(next));
    // The hashing thread is woken for a full group, not for every chunk.
    if (hasherWaiting_ && pending_.size() >= Sha256::MaxLanes) work_.notify_one();
}

void ChunkDigests::hashPending() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        if (pending_.size() < Sha256::MaxLanes && !finishing_) {
            hasherWaiting_ = true;
            work_.wait(lock, [this] { return pending_.size() >= Sha256::MaxLanes || finishing_; });
            hasherWaiting_ = false;
        }
        if (pending_.empty()) return;  // finishing, nothing left
        // Chunks of one length are hashed side by side (Sha256::ofMany).
        std::vector<Pending> group;
        const std::uint32_t blocks = pending_.front().blocks;
        while (!pending_.empty() && group.size() < Sha256::MaxLanes && pending_.front().blocks == blocks) {
            group.push_back(std::move(pending_.front()));
            pending_.pop_front();
        }
        // A writer held up by a full queue goes on once half of it is free.
        if (writerWaiting_ && pending_.size() <= PendingLimit / 2) room_.notify_one();
        lock.unlock();
        // Hashed before anything else happens to the buffers.
        std::vector<WrittenChunk> hashed;
        const std::uint8_t* messages[Sha256::MaxLanes];
        std::uint64_t* prints[Sha256::MaxLanes];
        Sha256Digest digests[Sha256::MaxLanes];
        hashed.reserve(group.size());
        for (const Pending& chunk : group) hashed.push_back(chunkAt(chunk.address, chunk.blocks));
        for (std::size_t n = 0; n < group.size(); ++n) {
            messages[n] = group[n].data.get();
            prints[n] = hashed[n].prefixPrints.data();
        }
        Sha256::ofMany(messages, group.size(), bytesOf(blocks), digests, BlockBytes, prints);
        for (std::size_t n = 0; n < group.size(); ++n) hashed[n].digest = digests[n];
        giveBackAll(group);
        lock.lock();
        done_.insert(done_.end(), hashed.begin(), hashed.end());
    }
}

void ChunkDigests::giveBackAll(std::vector<Pending>& hashed) {
    for (Pending& chunk : hashed) {
        if (chunk.given) giveBack_(std::move(chunk.data));
    }
}

const std::vector<WrittenChunk>& ChunkDigests::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
        work_.notify_one();
    }
    if (worker_.joinable()) worker_.join();
    return done_;
}

namespace {

// One pass of reading back. The reader (the caller's thread) reads the
// chunks in order into a ring of slots; the hashing thread compares them in
// groups as they come. When every slot holds a chunk not yet compared, the
// reader compares some itself, so neither processor idles while the other
// works. A slot is read into again only once its chunk matched; a chunk that
// differs keeps its slot, so its first bad block can be found.
class ReadBack {
public:
    ReadBack(RecorderDevice& device, const std::vector<WrittenChunk>& chunks)
        : device_(device), chunks_(chunks), matched_(chunks.size(), 0) {
        for (std::size_t i = 0; i < std::min(ReadSlots, chunks.size()); ++i) {
            slots_.emplace_back(new std::uint8_t[ChunkBytes]);
        }
    }

    std::optional<std::uint32_t> run(const std::function<bool()>& stopped,
                                     const std::function<void(std::uint32_t)>& verified, bool& wasStopped);

private:
    std::uint8_t* slotOf(std::size_t chunk) const { return slots_[chunk % ReadSlots].get(); }
    // Claims the next chunks to compare, compares them and records what was
    // found: false when there is nothing to claim now. Called with `lock`
    // held; it is let go while hashing. With `anySize` it claims however few
    // there are, for a reader that cannot read on until some are compared.
    bool compareNext(std::unique_lock<std::mutex>& lock, bool anySize = false);
    // How many chunks compareNext would claim now: a group of one length,
    // up to Sha256::MaxLanes, smaller only where no more of it can come.
    std::size_t claimable(bool anySize = false) const;
    void serve();
    // The blocks of the chunks that matched since the last call, for the
    // progress.
    void report(const std::function<void(std::uint32_t)>& verified);

    RecorderDevice& device_;
    const std::vector<WrittenChunk>& chunks_;
    std::vector<std::unique_ptr<std::uint8_t[]>> slots_;
    std::mutex mutex_;
    // Each thread is woken only while it waits and only when there is
    // something for it, not for every chunk.
    std::condition_variable work_;      // the hashing thread waits here
    std::condition_variable progress_;  // the reader waits here
    bool hasherWaiting_ = false;
    bool readerWaiting_ = false;
    std::vector<std::uint8_t> matched_;  // per chunk: 1 once it matched
    std::size_t read_ = 0;              // chunks read into their slots
    std::size_t claimed_ = 0;           // chunks handed out to compare
    std::size_t comparing_ = 0;         // claimed and not yet compared
    std::size_t matchedPrefix_ = 0;     // chunks [0, this) all matched
    std::size_t reported_ = 0;          // chunks told to the progress
    std::size_t firstBad_ = NoChunk;    // the first chunk that differs
    bool readingEnded_ = false;
    bool quit_ = false;
};

std::size_t ReadBack::claimable(bool anySize) const {
    // Nothing after a chunk that differs matters.
    if (firstBad_ != NoChunk) return 0;
    const std::size_t available = read_ - claimed_;
    const std::size_t first = claimed_;
    std::size_t run = 0;  // chunks of the first one's length, in a row
    while (run < available && run < Sha256::MaxLanes && chunks_[first + run].blocks == chunks_[first].blocks) ++run;
    if (run == 0 || run == Sha256::MaxLanes) return run;
    // A shorter group waits for more of its length while they may come.
    const bool moreMayCome = run == available && !readingEnded_ && first + run < chunks_.size() &&
                             chunks_[first + run].blocks == chunks_[first].blocks;
    return moreMayCome && !anySize ? 0 : run;
}

bool ReadBack::compareNext(std::unique_lock<std::mutex>& lock, bool anySize) {
    const std::size_t count = claimable(anySize);
    if (count == 0) return false;
    const std::size_t first = claimed_;
    claimed_ += count;
    comparing_ += count;
    lock.unlock();

    const std::uint8_t* messages[Sha256::MaxLanes];
    Sha256Digest digests[Sha256::MaxLanes];
    for (std::size_t k = 0; k < count; ++k) messages[k] = slotOf(first + k);
    Sha256::ofMany(messages, count, bytesOf(chunks_[first].blocks), digests);
    bool same[Sha256::MaxLanes];
    for (std::size_t k = 0; k < count; ++k) same[k] = digests[k] == chunks_[first + k].digest;

    lock.lock();
    for (std::size_t k = 0; k < count; ++k) {
        if (same[k]) {
            matched_[first + k] = 1;
        } else if (first + k < firstBad_) {
            firstBad_ = first + k;
        }
    }
    while (matchedPrefix_ < read_ && matched_[matchedPrefix_] != 0) ++matchedPrefix_;
    comparing_ -= count;
    if (readerWaiting_) progress_.notify_one();
    return true;
}

void ReadBack::serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (compareNext(lock)) continue;
        hasherWaiting_ = true;
        work_.wait(lock);
        hasherWaiting_ = false;
    }
}

void ReadBack::report(const std::function<void(std::uint32_t)>& verified) {
    std::size_t upTo;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        upTo = matchedPrefix_;
    }
    for (; reported_ < upTo; ++reported_) verified(chunks_[reported_].blocks);
}

std::optional<std::uint32_t> ReadBack::run(const std::function<bool()>& stopped,
                                           const std::function<void(std::uint32_t)>& verified, bool& wasStopped) {
    wasStopped = false;
    std::thread hashing([this] { serve(); });
    std::size_t unreadable = NoChunk;
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        if (stopped()) {
            wasStopped = true;
            break;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // The slot is free once the chunk read into it ReadSlots before
            // matched; until then, compare rather than wait.
            while (firstBad_ == NoChunk && i >= matchedPrefix_ + ReadSlots) {
                if (compareNext(lock, true)) continue;
                readerWaiting_ = true;
                progress_.wait(lock);
                readerWaiting_ = false;
            }
            if (firstBad_ != NoChunk) break;
        }
        report(verified);
        if (!readFromMedium(device_, chunks_[i].address, chunks_[i].blocks, slotOf(i))) {
            unreadable = i;
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        read_ = i + 1;
        if (hasherWaiting_ && claimable() > 0) work_.notify_one();
    }
    {
        // What was read is compared to the end, both threads at it: a chunk
        // before an unreadable one may differ, and then it is the first bad.
        std::unique_lock<std::mutex> lock(mutex_);
        readingEnded_ = true;
        if (hasherWaiting_) work_.notify_one();
        while (true) {
            if (compareNext(lock)) continue;
            if (comparing_ == 0) break;
            readerWaiting_ = true;
            progress_.wait(lock);
            readerWaiting_ = false;
        }
        quit_ = true;
        work_.notify_one();
    }
    hashing.join();
    report(verified);

    if (firstBad_ != NoChunk) return firstDifferingBlock(chunks_[firstBad_], slotOf(firstBad_));
    if (unreadable == NoChunk) return std::nullopt;
    // Which block of the chunk cannot be read: block by block.
    const WrittenChunk& chunk = chunks_[unreadable];
    std::unique_ptr<std::uint8_t[]> one(new std::uint8_t[BlockBytes]);
    for (std::uint32_t b = 0; b < chunk.blocks; ++b) {
        if (!readFromMedium(device_, chunk.address + b, 1, one.get())) return chunk.address + b;
    }
    return chunk.address;
}

}  // namespace

std::optional<std::uint32_t> verifyChunks(RecorderDevice& device, const std::vector<WrittenChunk>& chunks,
                                          const std::function<bool()>& stopped,
                                          const std::function<void(std::uint32_t)>& verified, bool& wasStopped) {
    return ReadBack(device, chunks).run(stopped, verified, wasStopped);
}

}  // namespace velk::jobs
