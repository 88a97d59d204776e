#include "engine/jobs/Writer.h"

#include <memory>
#include <vector>

#include "engine/core/Media.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderClaim.h"
#include "engine/jobs/Closing.h"
#include "engine/jobs/FormatLists.h"
#include "engine/jobs/ImageFileOutput.h"
#include "engine/jobs/Producer.h"
#include "engine/jobs/RecorderWaits.h"
#include "engine/jobs/Verification.h"
#include "platform/Thread.h"

namespace velk::jobs {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t WriterStackBytes = 64000;
constexpr std::uint32_t BlockBytes = 2048;
// First chunk at address 0: 5,000 pauses of 200 ms while busy, 100 after a
// reset or an error without sense.
constexpr std::uint32_t FirstChunkBusyLimit = 5000;
constexpr std::uint32_t FirstChunkResetLimit = 100;
constexpr milliseconds FirstChunkPause{200};
constexpr milliseconds ResetPause{1000};
// READ BUFFER CAPACITY after the third write, then after every sixth.
constexpr int FirstBufferPoll = 2;
constexpr int BufferPollInterval = 5;
// DVD 1x in kB/s, and its user bytes per second in the streaming descriptor.
constexpr std::uint32_t DvdOneXKbps = 1385;
constexpr double DvdOneXStreamingSize = 1440.25;

constexpr std::uint8_t AscIncompatibleFormat = 0x30;
constexpr std::uint8_t AscqUnformatted = 0x05;
constexpr std::uint8_t AscResetOccurred = 0x29;

// DVD media written in tracks take a streaming descriptor for the speeds.
bool takesStreamingDescriptor(const Medium& medium) {
    return medium.family == MediumFamily::Dvd && !medium.readOnly() && medium.order != WriteOrder::Random;
}

std::uint32_t streamingSize(std::uint16_t kbps) {
    return static_cast<std::uint32_t>(static_cast<double>(kbps / DvdOneXKbps) * DvdOneXStreamingSize);
}

class Writer {
public:
    Writer(ImageProject& project, RecorderDevice& device)
        : project_(project),
          jobs_(project.jobs),
          device_(device),
          written_([this](std::unique_ptr<std::uint8_t[]> block) {
              Chunk hashed;
              hashed.data = std::move(block);
              ReturnChunk(project_, std::move(hashed));
          }) {}

    void run();

private:
    void prepareRecorder();
    // One WRITE (10) of a chunk with the chunk retry rule; false when it
    // failed for good.
    bool writeChunkToRecorder(std::uint32_t address, std::uint32_t blocks);
    // The first chunk again at address 0 (overwritable media), with the
    // first-chunk retry rule.
    bool writeFirstChunkAtZero(std::uint32_t blocks);
    void writeFailedForGood();
    void pollDriveBuffer();
    // Keeps the digests of the chunk just written at `address`.
    void recordWritten(std::uint32_t address, std::uint32_t blocks);
    // Reads every recorded chunk back and compares; false with
    // ErrVerifyFailed when a block differs or cannot be read.
    bool verifyWritten();
    void finishOnRecorder();
    void complete();

    std::int32_t nextChunk();

    ImageProject& project_;
    JobFields& jobs_;
    RecorderDevice& device_;
    Chunk chunk_;  // the chunk being written
    ImageFileOutput file_{project_};  // the destination of a job to an image file
    std::uint8_t type_ = 0;
    const Medium* medium_ = &mediumOf(DiscNone);
    std::uint32_t lba_ = 0;
    std::uint32_t sessionsBefore_ = 0;
    ChunkDigests written_;  // of every chunk sent, while verifying
    bool verifying_ = false;
    int pollCountdown_ = FirstBufferPoll;
    bool pollingOff_ = false;
    bool failed_ = false;
};

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

void Writer::prepareRecorder() {
    (void)mmc::SynchronizeCache(device_, 0);
    (void)mmc::RezeroUnit(device_);
    (void)mmc::SetWriteParameters(device_, device_.testWrite, device_.underrunProtection, 0, type_);
    (void)mmc::ReadDiscInformation(device_, device_.discInfo, DiscInfoBytes);
    // A recorder that does not know READ BUFFER CAPACITY is not asked again.
    if (mmc::ReadBufferCapacity(device_) && lastAsc(device_) == 0x14) pollingOff_ = true;
    lba_ = jobs_.fromFile ? 0 : project_.plan.startLba;
    // DVD+R takes the multi-session field at the start; the others get it
    // when their session is closed.
    const bool plusWriteOnce = medium_->writeMode == WriteMode::DvdPlus && medium_->recording == Recording::WriteOnce;
    int multisession = plusWriteOnce && device_.closeDisc == 0 ? 1 : 0;
    (void)mmc::SetWriteParameters(device_, device_.testWrite, device_.underrunProtection, multisession, type_);
    (void)mmc::SetCdSpeed(device_, device_.readSpeed, device_.writeSpeed);
    if (takesStreamingDescriptor(*medium_)) {
        std::uint16_t writeSpeed = device::GetWriteSpeed(device_);
        std::uint16_t readSpeed = device::GetReadSpeed(device_);
        (void)mmc::SetStreamingPerformance(device_, lba_, lba_ + project_.plan.imageBlocks, streamingSize(readSpeed),
                                           streamingSize(writeSpeed), 1000, 1000);
    }
    (void)device::GetWriteSpeed(device_);
    sessionsBefore_ = device::GetSessionCount(device_);
    (void)device::GetWriteSpeed(device_);
    if (medium_->close == CloseFunctions::DvdMinusR) {
        // The track is reserved, and closed with the one after it.
        (void)mmc::SendDvdTimestamp(device_);
        (void)mmc::ReserveTrack(device_, project_.plan.imageBlocks);
    }
    device_.closeAfterCommand = 0;
    if (device_.performOpc) (void)mmc::SendOpcInformation(device_);
}

bool Writer::writeChunkToRecorder(std::uint32_t address, std::uint32_t blocks) {
    return writeWithRetries(device_, address, blocks, chunk_.data.get());
}

bool Writer::writeFirstChunkAtZero(std::uint32_t blocks) {
    const std::uint8_t* data = chunk_.data.get();
    std::uint32_t retries = 0;
    while (true) {
        if (mmc::Write10(device_, 0, static_cast<std::uint16_t>(blocks), data, blocks * BlockBytes)) return true;
        std::uint8_t asc = lastAsc(device_);
        bool busy = device_.busy != 0;
        if (asc == AscIncompatibleFormat && lastAscq(device_) == AscqUnformatted &&
            medium_->format == FormatMethod::Background) {
            // An unformatted DVD+RW: format it and try once more.
            FormatList list = DvdPlusRwFullFormat;
            if (mmc::FormatUnit(device_, mmc::FormatWithDescriptor, list.data(), list.size()) &&
                !waitWhileNotReady(device_, FormatWaitLimit)) {
                return false;
            }
            if (++retries == 1) continue;
            return false;
        }
        if (busy || asc == AscNotReady) {
            pauseFor(device_, FirstChunkPause);
            if (++retries < FirstChunkBusyLimit) continue;
            return false;
        }
        if (asc == 0 || asc == AscResetOccurred) {
            if (asc == AscResetOccurred) pauseFor(device_, ResetPause);
            pauseFor(device_, FirstChunkPause);
            if (++retries < FirstChunkResetLimit) continue;
        }
        return false;
    }
}

void Writer::writeFailedForGood() {
    // The recorder's answer is why the job failed.
    reportLastSense(device_);
    jobs_.stopRequested = 1;
    jobs_.notify();
    jobs_.waitUntil(100ms, [&] { return jobs_.producerFinished.load() != 0; });
    jobs_.jobState = JobWriteFailed;
    failed_ = true;
}

void Writer::recordWritten(std::uint32_t address, std::uint32_t blocks) {
    written_.add(address, blocks, chunk_.data.get());
}

bool Writer::verifyWritten() {
    const std::vector<WrittenChunk>& chunks = written_.finish();
    jobs_.jobState = JobVerifying;
    jobs_.blocksWritten = 0;
    jobs_.blocksVerified = 0;
    jobs_.notify();
    bool stopped = false;
    std::optional<std::uint32_t> bad = verifyChunks(
        device_, chunks, [this] { return jobs_.jobState.load() == JobAborted; },
        [this](std::uint32_t blocks) {
            jobs_.blocksWritten += blocks;
            jobs_.blocksVerified += blocks;
        },
        stopped);
    if (!bad) return !stopped;
    jobs_.verifyFailedBlock = *bad;
    project_.pendingError = ErrVerifyFailed;
    failed_ = true;
    return false;
}

void Writer::pollDriveBuffer() {
    if (--pollCountdown_ >= 0 || pollingOff_) return;
    (void)mmc::ReadBufferCapacity(device_);
    pollCountdown_ = BufferPollInterval;
}

void Writer::finishOnRecorder() {
    device_.bufferLength = 0;
    device_.bufferBlank = 0;
    if (!closeMedium(device_, type_, sessionsBefore_)) failed_ = true;
    // A disc without sessions has nothing to finish closing.
    if (medium_->order != WriteOrder::Random && !pollUntilReady(device_, CloseWaitLimit)) failed_ = true;
    // Data the drive's cache held and could not record: whichever command
    // the drive told it to, the burn failed.
    if (reportDeferredError(device_)) failed_ = true;
    (void)mmc::LoadMedium(device_, 0);
    (void)mmc::RezeroUnit(device_);
    (void)mmc::TestUnitReady(device_);
}

void Writer::complete() {
    // The hashing thread gives chunks back to the queue: it ends first.
    (void)written_.finish();
    bool failed = failed_ || project_.pendingError.load() != 0;
    // Nothing may outlive the job on the queue: a producer still waiting for
    // the writer (close-only, a failed write) is told to stop and is waited
    // for, so the next job finds the fields free.
    if (!jobs_.producerFinished.load()) {
        jobs_.stopRequested = 1;
        jobs_.notify();
        jobs_.waitUntil(std::chrono::milliseconds(60000), [&] { return jobs_.producerFinished.load() != 0; });
    }
    // Hardware errors latch again for whatever comes after the job.
    device_.suppressErrorCode = 0;
    device_.bufferLength = 0;
    device_.bufferBlank = 0;
    jobs_.jobState = JobIdle;
    CompletionCallback callback = jobs_.completionCallback;
    void* context = device_.burnContext;
    device::releaseRecorder(device_);
    if (callback) callback(failed ? 1 : 0, context);
}

void Writer::run() {
    project_.pendingError = 0;
    jobs_.jobState = JobWriting;
    device_.bufferLength = 0;
    device_.bufferBlank = 0;
    device_.suppressErrorCode = 1;
    const bool toFile = jobs_.toFile != 0;
    const bool closeOnly = jobs_.closeOnly != 0 && !toFile;
    type_ = device_.cachedDiscType;
    medium_ = &mediumOf(type_);
    // A test write records nothing that could be read back.
    verifying_ = jobs_.verifyOn != 0 && !toFile && !closeOnly && device_.testWrite == 0;
    jobs_.blocksVerified = 0;

    if (!closeOnly) {
        if (!toFile) prepareRecorder();
        jobs_.blocksWritten = 0;
        std::int32_t length = nextChunk();
        if (!toFile && !jobs_.fromFile && medium_->writtenInPlace(device_.testWrite != 0) && length > 0) {
            // The volume descriptors at the start of the disc must describe
            // the grown volume, so the first chunk also goes to address 0.
            // Where the image grows a volume, only the blocks the set-up
            // chose do (its descriptors): the blocks after them may hold the
            // old volume's file data.
            std::uint32_t atZero = jobs_.discStartBlocks;
            if (atZero == 0 || atZero > ChunkBlocks) atZero = ChunkBlocks;
            (void)mmc::SynchronizeCache(device_, 0);
            bool written = writeFirstChunkAtZero(atZero);
            (void)mmc::SynchronizeCache(device_, 0);
            // Where the image starts elsewhere, block 0 holds this copy alone.
            if (written && verifying_ && lba_ != 0) recordWritten(0, atZero);
            if (!written) {
                writeFailedForGood();
                length = 0;
            }
        }
        while (length > 0) {
            std::uint32_t bytes = static_cast<std::uint32_t>(length);
            if (toFile) {
                if (!file_.write(chunk_.data.get(), bytes)) {
                    failed_ = true;
                    break;
                }
            } else {
                // CD tracks end with the last short chunk; DVD writes whole
                // chunks (the tail of a short one is zero).
                std::uint32_t blocks = medium_->cdLike() ? (bytes + BlockBytes - 1) / BlockBytes : ChunkBlocks;
                if (!writeChunkToRecorder(lba_, blocks)) {
                    writeFailedForGood();
                    break;
                }
                // The chunk goes to the hashing thread, which gives it back.
                if (verifying_) written_.take(lba_, blocks, std::move(chunk_.data));
                bytes = blocks * BlockBytes;
                pollDriveBuffer();
            }
            lba_ += bytes / BlockBytes;
            jobs_.blocksWritten += bytes / BlockBytes;
            jobs_.notify();
            length = nextChunk();
        }
        if (toFile && !failed_ && project_.pendingError.load() == 0 && !file_.pad()) failed_ = true;
        if (toFile && failed_) {
            jobs_.jobState = JobWriteFailed;
        } else if (jobs_.jobState.load() != JobAborted && jobs_.jobState.load() != JobWriteFailed) {
            jobs_.jobState = JobClosing;
        }
        jobs_.blocksWritten = project_.plan.imageBlocks;
        jobs_.notify();
    } else {
        jobs_.jobState = JobClosing;
    }

    jobs_.closeOnly = 0;
    device_.closeAfterCommand = 1;
    if (toFile) {
        if (!file_.finish()) failed_ = true;
    } else {
        // Nothing takes the chunks of a close-only job, so its producer is
        // told to stop instead of waiting for ever.
        if (closeOnly) {
            jobs_.stopRequested = 1;
            jobs_.notify();
            sessionsBefore_ = device::GetSessionCount(device_);
        }
        finishOnRecorder();
        if (verifying_ && !failed_ && project_.pendingError.load() == 0) (void)verifyWritten();
    }
    complete();
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
