#include "engine/jobs/Producer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "engine/core/TraceLog.h"
#include "engine/image/HeaderGenerator.h"
#include "engine/image/SourceTree.h"
#include "engine/image/UdfFiles.h"
#include "engine/jobs/ImageFiles.h"
#include "platform/Text.h"
#include "platform/Thread.h"

namespace velk::jobs {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t ProducerStackBytes = 64000;
constexpr std::uint32_t BlockBytes = 2048;

// Priority steps of the producer: the lower the queue, the higher it runs.
enum ProducerPriority : std::int32_t {
    PriorityIdle = -15,
    PriorityLowest = -2,
    PriorityBelowNormal = -1,
    PriorityNormal = 0,
    PriorityHighest = 2,
};

platform::ThreadPriority threadPriority(std::int32_t value) {
    switch (value) {
    case PriorityIdle: return platform::ThreadPriority::Idle;
    case PriorityLowest: return platform::ThreadPriority::Lowest;
    case PriorityBelowNormal: return platform::ThreadPriority::BelowNormal;
    case PriorityHighest: return platform::ThreadPriority::Highest;
    default: return platform::ThreadPriority::Normal;
    }
}

std::uint32_t roundUpToBlock(std::uint64_t bytes) {
    return static_cast<std::uint32_t>((bytes + BlockBytes - 1) / BlockBytes * BlockBytes);
}

// What feeds one streamed item: a file, a data callback, or nothing (zero
// blocks keep the planned layout for an item that has neither).
struct ItemSource {
    const FileItem* item = nullptr;  // null for the boot image
    std::string path;                // UTF-8, empty without a file
    std::uint64_t size = 0;
};

class Producer {
public:
    explicit Producer(ImageProject& project) : project_(project), jobs_(project.jobs) {}

    void run();

private:
    bool streamHeader();
    bool streamUdfArea();
    bool streamItem(const ItemSource& source, bool lastInStream);
    bool streamImageFile();
    bool finish();

    // The open chunk, allocated when the first byte goes into it.
    std::uint8_t* openSpace();
    // Counts n bytes placed at openSpace() into the open chunk and seals it
    // when full, or at once (short) when `sealNow` is set.
    void commit(std::uint32_t n, bool sealNow);
    void seal(std::uint32_t length);
    bool backPressure(std::uint32_t limit, bool idleWhileWaiting);
    void adjustPriority();
    void setPriority(std::int32_t value);
    // Ends the stream on a failure of its own: records the code, stops the job.
    bool fail(std::int32_t code, const std::u16string& fileName);
    bool stopExit();
    bool stopped() const { return jobs_.stopRequested.load() != 0; }

    ImageProject& project_;
    JobFields& jobs_;
    Chunk open_;
    std::uint32_t staged_ = 0;
    std::FILE* source_ = nullptr;
    // The priority last set on this thread; none yet (no priority is this low).
    std::int32_t appliedPriority_ = std::numeric_limits<std::int32_t>::min();
};

std::uint8_t* Producer::openSpace() {
    if (!open_.data) {
        {
            std::lock_guard<std::mutex> lock(project_.lock);
            open_.data = jobs_.queue.reuse();
        }
        open_.length = 0;
        staged_ = 0;
        if (!open_.data) return nullptr;
    }
    return open_.data.get() + staged_;
}

void Producer::seal(std::uint32_t length) {
    // Bytes no source filled are zero (blocks are reused, so say so).
    if (staged_ < ChunkBytes) std::memset(open_.data.get() + staged_, 0, ChunkBytes - staged_);
    open_.length = length;
    jobs_.blocksProduced += (length + BlockBytes - 1) / BlockBytes;
    (void)jobs_.queue.put(std::move(open_));
    open_ = Chunk{};
    staged_ = 0;
    jobs_.chunkCount = static_cast<std::int32_t>(jobs_.queue.size());
}

void Producer::commit(std::uint32_t n, bool sealNow) {
    {
        std::lock_guard<std::mutex> lock(project_.lock);
        staged_ += n;
        if (staged_ == ChunkBytes) {
            seal(ChunkBytes);
        } else if (sealNow && staged_ > 0) {
            seal(staged_);
        }
    }
    jobs_.notify();
}

bool Producer::backPressure(std::uint32_t limit, bool idleWhileWaiting) {
    while (static_cast<std::uint32_t>(jobs_.chunkCount.load()) >= limit) {
        // The set-up waits for the first time the queue is full.
        if (!jobs_.bufferPrimed.exchange(1)) jobs_.notify();
        if (idleWhileWaiting && jobs_.producerPriority.load() != PriorityIdle) {
            setPriority(PriorityIdle);
        }
        jobs_.waitUntil(20ms, [&] {
            return static_cast<std::uint32_t>(jobs_.chunkCount.load()) < limit || stopped();
        });
        if (stopped()) return false;
    }
    return true;
}

void Producer::setPriority(std::int32_t value) {
    // Asked for after every chunk: only a change costs the system calls.
    if (value != appliedPriority_) platform::setCurrentThreadPriority(threadPriority(value));
    appliedPriority_ = value;
    jobs_.producerPriority = value;
}

void Producer::adjustPriority() {
    std::uint32_t count = static_cast<std::uint32_t>(jobs_.chunkCount.load());
    if (count < jobs_.maxChunks / 4) {
        setPriority(PriorityHighest);
    } else if (count < jobs_.maxChunks / 2) {
        setPriority(PriorityNormal);
    } else if (jobs_.producerPriority.load() != PriorityLowest) {
        setPriority(PriorityLowest);
    }
}

bool Producer::fail(std::int32_t code, const std::u16string& fileName) {
    std::lock_guard<std::mutex> lock(project_.lock);
    project_.errorFileName = fileName;
    project_.pendingError = code;
    jobs_.stopRequested = 1;
    return false;
}

bool Producer::stopExit() {
    if (source_) {
        std::fclose(source_);
        source_ = nullptr;
    }
    if (jobs_.imageFile && jobs_.fromFile) {
        std::fclose(jobs_.imageFile);
        jobs_.imageFile = nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(project_.lock);
        open_ = Chunk{};
        jobs_.queue.clear();
        jobs_.chunkCount = 0;
        jobs_.producerFinished = 1;
    }
    jobs_.notify();
    return false;
}

bool Producer::streamHeader() {
    const std::uint8_t* header = project_.headerBuffer.get();
    std::uint32_t remaining = project_.headerBytes;
    std::uint32_t offset = 0;
    while (remaining > 0) {
        std::uint8_t* space = openSpace();
        if (!space) return fail(ErrOutOfMemory, {});
        std::uint32_t n = std::min(ChunkBytes - staged_, remaining);
        std::memcpy(space, header + offset, n);
        commit(n, false);
        offset += n;
        remaining -= n;
        if (!backPressure(jobs_.maxChunks, false)) return false;
    }
    return true;
}

bool Producer::streamUdfArea() {
    std::uint32_t remaining = project_.udf.areaBlocks;
    while (remaining > 0) {
        std::uint8_t* space = openSpace();
        if (!space) return fail(ErrOutOfMemory, {});
        std::uint32_t blocks = std::min((ChunkBytes - staged_) / BlockBytes, remaining);
        image::produceUdfBlocks(project_, space, blocks);
        commit(blocks * BlockBytes, false);
        remaining -= blocks;
        if (!backPressure(jobs_.maxChunks, false)) return false;
    }
    return true;
}

bool Producer::streamItem(const ItemSource& source, bool lastInStream) {
    const FileItem* item = source.item;
    bool fromCallback = item && item->dataCallback;
    std::u16string displayName = item ? item->sourcePath : platform::toUtf16(source.path);
    if (!fromCallback && !source.path.empty()) {
        source_ = std::fopen(source.path.c_str(), "rb");
        if (!source_) {
            recordSystemError(jobs_);
            fail(ErrOpenFile, displayName);
            return stopExit();
        }
        // Pieces are read straight into the chunk; a stdio buffer would only
        // add a copy.
        std::setvbuf(source_, nullptr, _IONBF, 0);
    }
    std::uint64_t remaining = source.size;
    while (remaining > 0) {
        std::uint8_t* space = openSpace();
        if (!space) return fail(ErrOutOfMemory, {}) || stopExit();
        std::uint32_t spaceBytes = ChunkBytes - staged_;
        std::uint32_t n = spaceBytes;
        std::uint32_t wanted = spaceBytes;
        if (remaining < spaceBytes) {
            n = roundUpToBlock(remaining);
            wanted = static_cast<std::uint32_t>(remaining);
        }
        // Only the planned bytes are read, so a file that grew is cut at its
        // planned size and the tail of its last block stays zero.
        std::uint32_t got = 0;
        if (fromCallback) {
            std::uint32_t count = wanted;
            std::uint64_t offset = item->size - remaining;
            item->dataCallback(const_cast<FileItem*>(item), static_cast<std::uint32_t>(offset), space,
                               &count, item->callbackContext);
            got = wanted;
        } else if (source_) {
            got = static_cast<std::uint32_t>(std::fread(space, 1, wanted, source_));
            if (got < wanted && std::ferror(source_)) {
                recordSystemError(jobs_);
                fail(ErrOpenFile, displayName);
                return stopExit();
            }
            if (got < wanted) {
                // The file became shorter than planned: the disc would carry
                // zeros in place of its end, so the job fails naming it.
                trace::write("File shorter than planned: %s\n", source.path.c_str());
                fail(ErrFileChanged, displayName);
                return stopExit();
            }
        }
        std::memset(space + wanted, 0, n - wanted);
        remaining -= wanted;
        if (stopped()) return stopExit();
        commit(n, remaining == 0 && lastInStream);
        adjustPriority();
        if (!backPressure(jobs_.maxChunks - 1, true)) return stopExit();
    }
    if (source_) {
        // A file that grew is written with its planned size; the caller is
        // told which.
        if (std::fgetc(source_) != EOF) {
            std::lock_guard<std::mutex> lock(project_.lock);
            jobs_.grownFiles.push_back(displayName);
        }
        std::fclose(source_);
        source_ = nullptr;
    }
    return true;
}

bool Producer::streamImageFile() {
    std::FILE* file = jobs_.imageFile;
    std::uint64_t length = 0;
    if (file && std::fseek(file, 0, SEEK_END) == 0) {
        long end = std::ftell(file);
        length = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        std::fseek(file, 0, SEEK_SET);
    }
    std::uint64_t blocks = (length + BlockBytes - 1) / BlockBytes;
    blocks = (blocks + ChunkBlocks - 1) / ChunkBlocks * ChunkBlocks;
    project_.plan.imageBlocks = static_cast<std::uint32_t>(blocks);
    std::uint64_t remaining = blocks * BlockBytes;
    while (remaining > 0) {
        std::uint8_t* space = openSpace();
        if (!space) return fail(ErrOutOfMemory, {}) || stopExit();
        std::size_t got = file ? std::fread(space, 1, ChunkBytes, file) : 0;
        if (file && got < ChunkBytes && std::ferror(file)) {
            recordSystemError(jobs_);
            fail(ErrOpenFile, platform::toUtf16(jobs_.imagePath));
            return stopExit();
        }
        std::memset(space + got, 0, ChunkBytes - got);  // past the end of the file
        remaining -= std::min<std::uint64_t>(remaining, ChunkBytes);
        commit(ChunkBytes, false);
        if (!backPressure(jobs_.maxChunks, false)) return stopExit();
    }
    if (file) std::fclose(file);
    jobs_.imageFile = nullptr;
    return true;
}

bool Producer::finish() {
    {
        std::lock_guard<std::mutex> lock(project_.lock);
        if (open_.data && staged_ > 0) seal(ChunkBytes);
    }
    if (source_) {
        std::fclose(source_);
        source_ = nullptr;
    }
    if (project_.udfOn && !jobs_.fromFile) {
        std::lock_guard<std::mutex> lock(project_.lock);
        const std::uint32_t anchorOffset = ChunkBytes - BlockBytes;
        Chunk* last = jobs_.queue.back();
        if (project_.plan.dataEndsOnChunk || !last) {
            open_.data = jobs_.queue.reuse();
            if (open_.data) {
                std::memset(open_.data.get(), 0, ChunkBytes);
                image::writeClosingAnchor(project_, open_.data.get() + anchorOffset);
                staged_ = ChunkBytes;
                seal(ChunkBytes);
            }
        } else {
            image::writeClosingAnchor(project_, last->data.get() + anchorOffset);
            jobs_.blocksProduced += (ChunkBytes - last->length) / BlockBytes;
            last->length = ChunkBytes;
        }
    }
    jobs_.lastChunkSealed = 1;
    jobs_.bufferPrimed = 1;
    jobs_.notify();
    while (jobs_.blocksWritten.load() < jobs_.blocksProduced.load()) {
        if (stopped()) return stopExit();
        jobs_.waitUntil(100ms, [&] {
            return jobs_.blocksWritten.load() >= jobs_.blocksProduced.load() || stopped();
        });
    }
    {
        std::lock_guard<std::mutex> lock(project_.lock);
        jobs_.queue.clear();
        jobs_.chunkCount = 0;
        jobs_.producerFinished = 1;
    }
    jobs_.notify();
    return true;
}

void Producer::run() {
    jobs_.blocksProduced = 0;
    jobs_.chunkCount = 0;
    jobs_.producerFinished = 0;
    setPriority(PriorityBelowNormal);
    if (jobs_.fromFile) {
        if (streamImageFile()) finish();
        return;
    }
    // The streamed items: every file with planned blocks, in layout order.
    // Their paths are converted one at a time, so the job holds no second
    // copy of the tree's paths.
    auto streamed = [](const FileItem& item) {
        return !item.folder && item.size != 0 && !item.fixedBlock;
    };
    const FileItem* lastFile = nullptr;
    for (const auto& entry : project_.itemTable) {
        if (streamed(*entry)) lastFile = entry.get();
    }
    if (!streamHeader()) {
        stopExit();
        return;
    }
    // The boot image streams before the UDF area; it ends the stream only
    // when nothing follows it.
    if (!project_.bootImagePath.empty()) {
        ItemSource boot{nullptr, project_.bootImagePath, project_.bootImageSize};
        if (!streamItem(boot, !project_.udfOn && !lastFile)) return;
    }
    if (project_.udfOn && !streamUdfArea()) {
        stopExit();
        return;
    }
    for (const auto& entry : project_.itemTable) {
        const FileItem& item = *entry;
        if (!streamed(item)) continue;
        ItemSource source{&item, item.dataCallback ? std::string() : sourceOpenPath(item),
                          item.size};
        if (!streamItem(source, &item == lastFile)) return;
    }
    finish();
}

}  // namespace

bool StartProducer(ImageProject& project) {
    JobFields& jobs = project.jobs;
    jobs.chunkSize = ChunkBytes;
    jobs.maxChunks = static_cast<std::uint32_t>(jobs.bufferSize.load()) / ChunkBytes;
    jobs.bufferPrimed = 0;
    jobs.lastChunkSealed = 0;
    jobs.producerPriority = -1;
    jobs.producerFinished = 0;
    jobs.blocksWritten = 0;
    ++jobs.runningThreads;
    bool started = platform::startThread(ProducerStackBytes, platform::ThreadPriority::BelowNormal,
                                         [&project] {
                                             Producer(project).run();
                                             project.jobs.threadEnded();
                                         });
    if (!started) {
        --jobs.runningThreads;
        jobs.producerFinished = 1;
        jobs.stopRequested = 1;
    }
    return started;
}

std::int32_t TakeChunkBlock(ImageProject& project, Chunk& chunk) {
    JobFields& jobs = project.jobs;
    if (jobs.producerFinished.load()) return 0;
    if (jobs.stopRequested.load()) return 0;
    {
        std::lock_guard<std::mutex> lock(project.lock);
        std::size_t count = jobs.queue.size();
        // Everything sealed has been taken: the stream is complete, whether
        // or not the producer has got round to ending yet.
        if (count == 0 && jobs.lastChunkSealed.load()) return 0;
        // The last queued chunk may still get the closing anchor.
        if (count == 0 || (count == 1 && !jobs.lastChunkSealed.load())) return -1;
        chunk = jobs.queue.take();
        jobs.chunkCount = static_cast<std::int32_t>(jobs.queue.size());
    }
    jobs.notify();
    return static_cast<std::int32_t>(chunk.length);
}

void ReturnChunk(ImageProject& project, Chunk chunk) {
    std::lock_guard<std::mutex> lock(project.lock);
    project.jobs.queue.recycle(std::move(chunk.data), project.jobs.maxChunks);
}

std::int32_t TakeChunk(ImageProject& project, std::uint8_t* writeBuffer) {
    Chunk chunk;
    std::int32_t length = TakeChunkBlock(project, chunk);
    if (length > 0) {
        std::memcpy(writeBuffer, chunk.data.get(), ChunkBytes);
        ReturnChunk(project, std::move(chunk));
    }
    return length;
}

void FreeChunks(ImageProject& project) {
    std::lock_guard<std::mutex> lock(project.lock);
    project.jobs.queue.clear();
    project.jobs.chunkCount = 0;
}

}  // namespace velk::jobs
