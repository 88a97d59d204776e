#include "engine/jobs/Writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/jobs/Producer.h"
#include "platform/Text.h"
#include "platform/Thread.h"

namespace velk::jobs {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t WriterStackBytes = 64000;
constexpr std::uint32_t BlockBytes = 2048;

class Writer {
public:
    Writer(ImageProject& project, RecorderDevice& device)
        : project_(project), jobs_(project.jobs), device_(device) {}

    void run();

private:
    // Sends one chunk to the destination; false when it failed for good.
    bool writeChunk(const std::uint8_t* data, std::uint32_t length);
    bool padImageFile();
    bool closeImageFile();
    void failImageFile();
    std::int32_t nextChunk();

    ImageProject& project_;
    JobFields& jobs_;
    RecorderDevice& device_;
    Chunk chunk_;  // the chunk being written
    std::unique_ptr<std::uint8_t[]> zeros_{new std::uint8_t[ChunkBytes]()};
    std::uint64_t bytesToFile_ = 0;
    bool failed_ = false;
};

void Writer::failImageFile() {
    if (failed_) return;
    {
        std::lock_guard<std::mutex> lock(project_.lock);
        project_.errorFileName = platform::toUtf16(jobs_.imagePath);
        project_.pendingError = ErrCreateFile;
    }
    jobs_.stopRequested = 1;
    jobs_.notify();
    failed_ = true;
}

bool Writer::writeChunk(const std::uint8_t* data, std::uint32_t length) {
    if (std::fwrite(data, 1, length, jobs_.imageFile) != length) {
        failImageFile();
        return false;
    }
    bytesToFile_ += length;
    return true;
}

// An image file holds exactly the planned blocks: the stream can end before
// the image's rounded end (no closing anchor fills it), so zeros follow.
bool Writer::padImageFile() {
    std::uint64_t wanted = static_cast<std::uint64_t>(project_.plan.imageBlocks) * BlockBytes;
    while (bytesToFile_ < wanted) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(ChunkBytes, wanted - bytesToFile_));
        if (!writeChunk(zeros_.get(), n)) return false;
    }
    return true;
}

bool Writer::closeImageFile() {
    if (!jobs_.imageFile) return true;
    // A full disk often shows only when the last buffered bytes go out.
    bool ok = std::fflush(jobs_.imageFile) == 0;
    ok = std::fclose(jobs_.imageFile) == 0 && ok;
    jobs_.imageFile = nullptr;
    return ok;
}

// Gives the written chunk back and takes the next one, waiting while none is
// ready.
std::int32_t Writer::nextChunk() {
    if (chunk_.data) ReturnChunk(project_, std::move(chunk_));
    chunk_ = Chunk{};
    std::int32_t length = TakeChunkBlock(project_, chunk_);
    while (length == -1) {
        jobs_.waitUntil(10ms, [&] {
            return jobs_.chunkCount.load() > 1 || jobs_.lastChunkSealed.load() ||
                   jobs_.producerFinished.load() || jobs_.stopRequested.load();
        });
        length = TakeChunkBlock(project_, chunk_);
    }
    return length;
}

void Writer::run() {
    project_.pendingError = 0;
    jobs_.jobState = JobWriting;
    device_.bufferLength = 0;
    device_.bufferBlank = 0;
    device_.suppressErrorCode = 1;
    bool toFile = jobs_.toFile != 0;
    bool closeOnly = jobs_.closeOnly != 0 && !toFile;

    if (!closeOnly) {
        jobs_.blocksWritten = 0;
        std::int32_t length = nextChunk();
        while (length > 0) {
            if (!writeChunk(chunk_.data.get(), static_cast<std::uint32_t>(length))) break;
            jobs_.blocksWritten += static_cast<std::uint32_t>(length) / BlockBytes;
            jobs_.notify();
            length = nextChunk();
        }
        if (toFile && !failed_ && project_.pendingError.load() == 0) padImageFile();
        if (failed_) {
            jobs_.jobState = JobWriteFailed;
        } else if (jobs_.jobState.load() != JobAborted) {
            jobs_.jobState = JobClosing;
        }
        jobs_.blocksWritten = project_.plan.imageBlocks;
        jobs_.notify();
    }

    jobs_.closeOnly = 0;
    device_.closeAfterCommand = 1;
    if (toFile && !closeImageFile()) failImageFile();
    // Nothing takes the chunks of a close-only job, so its producer is told
    // to stop here instead of waiting for ever.
    if (closeOnly) {
        jobs_.stopRequested = 1;
        jobs_.notify();
    }

    bool failed = failed_ || project_.pendingError.load() != 0;
    jobs_.jobState = JobIdle;
    if (jobs_.completionCallback) jobs_.completionCallback(failed ? 1 : 0, device_.burnContext);
}

}  // namespace

bool StartWriter(ImageProject& project, RecorderDevice& device) {
    ++project.jobs.runningThreads;
    bool started = platform::startThread(WriterStackBytes, platform::ThreadPriority::BelowNormal,
                                         [&project, &device] {
                                             Writer(project, device).run();
                                             project.jobs.threadEnded();
                                         });
    if (!started) --project.jobs.runningThreads;
    return started;
}

}  // namespace velk::jobs
