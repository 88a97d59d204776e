#include "engine/jobs/Verification.h"

#include <cstring>

#include "engine/device/MmcCommands.h"
#include "engine/jobs/RecorderWaits.h"

namespace velk::jobs {
namespace {

constexpr std::uint32_t BlockBytes = 2048;
// Chunks waiting for the hashing thread (2 MiB): enough that the writer and
// the hashing thread seldom wait for each other.
constexpr std::size_t PendingLimit = 32;
// Chunks the read-back reads before it compares them: half are hashed on a
// second thread while the other half is read and hashed.
constexpr std::size_t ReadBatch = 32;

WrittenChunk chunkWithoutDigest(std::uint32_t address, std::uint32_t blocks, const std::uint8_t* data) {
    WrittenChunk chunk;
    chunk.address = address;
    chunk.blocks = blocks;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        chunk.blockPrints[b] = blockFingerprint(data + std::size_t{b} * BlockBytes, BlockBytes);
    }
    return chunk;
}

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
    changed_.wait(lock, [this] { return pending_.size() < PendingLimit; });
    pending_.push_back(std::move(next));
    changed_.notify_all();
}

void ChunkDigests::hashPending() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return !pending_.empty() || finishing_; });
        if (pending_.empty()) return;  // finishing, nothing left
        // Two chunks of one length are hashed side by side, at nearly twice
        // the speed.
        std::vector<Pending> next;
        next.push_back(std::move(pending_.front()));
        pending_.pop_front();
        if (!pending_.empty() && pending_.front().blocks == next[0].blocks) {
            next.push_back(std::move(pending_.front()));
            pending_.pop_front();
        }
        changed_.notify_all();
        lock.unlock();
        // Hashed before anything else happens to the buffers.
        WrittenChunk first = chunkWithoutDigest(next[0].address, next[0].blocks, next[0].data.get());
        if (next.size() == 2) {
            WrittenChunk second = chunkWithoutDigest(next[1].address, next[1].blocks, next[1].data.get());
            auto digests = Sha256::ofTwo(next[0].data.get(), next[1].data.get(), bytesOf(next[0].blocks));
            first.digest = digests[0];
            second.digest = digests[1];
            giveBackAll(next);
            lock.lock();
            done_.push_back(first);
            done_.push_back(second);
        } else {
            first.digest = Sha256::of(next[0].data.get(), bytesOf(next[0].blocks));
            giveBackAll(next);
            lock.lock();
            done_.push_back(first);
        }
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
        changed_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
    return done_;
}

namespace {

// The first chunk of [from, to) whose digest differs from what was sent,
// each read into buffers[index - base]; pairs of one length are hashed side
// by side.
std::optional<std::size_t> firstDiffering(const std::vector<WrittenChunk>& chunks, std::size_t base, std::size_t from,
                                          std::size_t to, const std::vector<std::unique_ptr<std::uint8_t[]>>& buffers) {
    for (std::size_t i = from; i < to;) {
        const std::uint8_t* data = buffers[i - base].get();
        if (i + 1 < to && chunks[i + 1].blocks == chunks[i].blocks) {
            auto digests = Sha256::ofTwo(data, buffers[i + 1 - base].get(), bytesOf(chunks[i].blocks));
            if (digests[0] != chunks[i].digest) return i;
            if (digests[1] != chunks[i + 1].digest) return i + 1;
            i += 2;
        } else {
            if (Sha256::of(data, bytesOf(chunks[i].blocks)) != chunks[i].digest) return i;
            ++i;
        }
    }
    return std::nullopt;
}

// A second thread for the read-back's hashing, kept for the whole pass: a
// thread started per batch often begins on the processor of the thread that
// started it and so runs after it rather than beside it.
class HashingThread {
public:
    HashingThread() : thread_([this] { serve(); }) {}
    ~HashingThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void start(std::function<void()> work) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            work_ = std::move(work);
            done_ = false;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
    }

private:
    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            changed_.wait(lock, [this] { return quit_ || work_; });
            if (!work_) return;
            std::function<void()> work = std::move(work_);
            work_ = nullptr;
            lock.unlock();
            work();
            lock.lock();
            done_ = true;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> work_;
    bool done_ = true;
    bool quit_ = false;
    std::thread thread_;  // last: starts once the fields above are made
};

}  // namespace

std::optional<std::uint32_t> verifyChunks(RecorderDevice& device, const std::vector<WrittenChunk>& chunks,
                                          const std::function<bool()>& stopped,
                                          const std::function<void(std::uint32_t)>& verified, bool& wasStopped) {
    wasStopped = false;
    // This thread alone drives the recorder. A batch's first half is hashed
    // on a second thread while the second half is read and hashed here, so
    // a fast recorder is not held up by the hashing of one processor.
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
    for (std::size_t i = 0; i < std::min(ReadBatch, chunks.size()); ++i) {
        buffers.emplace_back(new std::uint8_t[ChunkBytes]);
    }
    HashingThread second;
    constexpr std::size_t NoChunk = static_cast<std::size_t>(-1);
    std::size_t unreadable = NoChunk;  // the first chunk that could not be read
    std::optional<std::uint32_t> bad;
    for (std::size_t base = 0; base < chunks.size() && !bad && unreadable == NoChunk; base += ReadBatch) {
        if (stopped()) {
            wasStopped = true;
            break;
        }
        const std::size_t end = std::min(chunks.size(), base + ReadBatch);
        const std::size_t half = std::min(end, base + ReadBatch / 2);
        std::size_t read = base;  // chunks read so far
        auto readUpTo = [&](std::size_t to) {
            for (; read < to; ++read) {
                if (!readFromMedium(device, chunks[read].address, chunks[read].blocks, buffers[read - base].get())) {
                    unreadable = read;
                    return;
                }
            }
        };
        readUpTo(half);
        const std::size_t firstTo = read;
        std::optional<std::size_t> firstBad, secondBad;
        second.start([&] { firstBad = firstDiffering(chunks, base, base, firstTo, buffers); });
        if (unreadable == NoChunk) readUpTo(end);
        secondBad = firstDiffering(chunks, base, firstTo, read, buffers);
        second.wait();
        // In order: the first bad chunk stops the pass, and a chunk that
        // differs before an unreadable one is the first bad block.
        std::optional<std::size_t> badChunk = firstBad ? firstBad : secondBad;
        for (std::size_t i = base; i < (badChunk ? *badChunk : read); ++i) verified(chunks[i].blocks);
        if (badChunk) {
            bad = firstDifferingBlock(chunks[*badChunk], buffers[*badChunk - base].get());
            unreadable = NoChunk;
        }
    }

    if (unreadable != NoChunk) {
        // Which block of the chunk cannot be read: block by block.
        const WrittenChunk& chunk = chunks[unreadable];
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
