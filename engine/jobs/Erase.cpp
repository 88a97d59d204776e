#include "engine/jobs/Erase.h"

#include <memory>

#include "engine/core/Media.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderClaim.h"
#include "engine/jobs/FormatLists.h"
#include "engine/jobs/RecorderWaits.h"
#include "platform/Thread.h"

namespace velk::jobs {
namespace {

constexpr std::size_t EraseStackBytes = 40000;
constexpr std::uint32_t BlocksPerWrite = 32;
constexpr std::uint32_t DvdRamQuickBlocks = 4096;
constexpr std::uint32_t DvdPlusRwQuickBlocks = 512;
constexpr std::uint32_t DvdPlusRwFullBlocks = 2272000;
constexpr int QuickErase = 1;
constexpr int FullErase = 0;

class EraseJob {
public:
    EraseJob(RecorderDevice& device) : device_(device), zeros_(new std::uint8_t[BlocksPerWrite * 2048]()) {}

    // True when the disc was erased.
    bool run();

private:
    bool format(const FormatList& list) {
        FormatList copy = list;
        return mmc::FormatUnit(device_, mmc::FormatWithDescriptor, copy.data(),
                               static_cast<std::uint32_t>(copy.size())) != 0;
    }
    // Zeros over blocks [0, end); false at the first WRITE that fails.
    bool writeZeros(std::uint32_t end);
    bool eraseDvdRam();
    bool eraseDvdPlusRw();
    bool blankDisc();

    RecorderDevice& device_;
    std::unique_ptr<std::uint8_t[]> zeros_;
    int mode_ = QuickErase;
};

bool EraseJob::writeZeros(std::uint32_t end) {
    for (std::uint32_t address = 0; address < end; address += BlocksPerWrite) {
        if (device_.eraseStop.load()) return false;
        if (!writeWithRetries(device_, address, BlocksPerWrite, zeros_.get())) {
            reportLastSense(device_);
            return false;
        }
    }
    return true;
}

bool EraseJob::eraseDvdRam() {
    if (mode_ == QuickErase) {
        bool written = writeZeros(DvdRamQuickBlocks);
        (void)mmc::SynchronizeCache(device_, 0);
        return written;
    }
    if (!format(DvdRamFullFormat)) {
        reportLastSense(device_);
        return false;
    }
    return waitWhileNotReady(device_, FormatWaitLimit, ReadyProbe::TestUnitReady);
}

bool EraseJob::eraseDvdPlusRw() {
    if (mode_ == QuickErase) {
        // A refused format still leaves the start of the disc to be zeroed.
        bool ready = !format(DvdPlusRwFullFormat) || waitWhileNotReady(device_, FormatWaitLimit);
        bool written = ready && writeZeros(DvdPlusRwQuickBlocks);
        (void)mmc::SynchronizeCache(device_, 0);
        (void)mmc::CloseTrackSession(device_, 0, 3, 0, 0, 0);
        return written;
    }
    if (mode_ != FullErase) return true;
    if (!format(DvdPlusRwFullFormat)) {
        reportLastSense(device_);
        return false;
    }
    if (!waitWhileNotReady(device_, FormatWaitLimit)) return false;
    device_.eraseState = JobFormatting;
    bool written = writeZeros(DvdPlusRwFullBlocks);
    (void)mmc::SynchronizeCache(device_, 0);
    return written;
}

bool EraseJob::blankDisc() {
    if (!mmc::Blank(device_, mode_ != FullErase ? 1 : 0)) {
        reportLastSense(device_);
        return false;
    }
    return waitWhileNotReady(device_, FormatWaitLimit);
}

bool EraseJob::run() {
    mode_ = device_.eraseMode;
    std::uint8_t type = static_cast<std::uint8_t>(device::GetDiscType(device_));
    (void)mmc::SetCdSpeed(device_, device_.readSpeed, device_.writeSpeed);
    (void)mmc::SetWriteParameters(device_, 0, 0, 0, type);
    if (type == DiscNone) {
        reportLastSense(device_);
        return false;
    }
    const Medium& medium = mediumOf(type);
    if (medium.erase == EraseMethod::Format) {
        if (medium.format == FormatMethod::Full) return eraseDvdRam();
        if (medium.format == FormatMethod::Background) return eraseDvdPlusRw();
    }
    // BLANK, also where the medium cannot be erased: the drive's refusal
    // says why.
    return blankDisc();
}

void callBack(RecorderDevice& device, CompletionCallback callback, int failed, void* context) {
    std::lock_guard<std::mutex> lock(device.callbackLock);
    if (callback) callback(failed, context);
}

}  // namespace

int StartErase(ImageProject& project, RecorderDevice& device, int mode, CompletionCallback callback, void* context) {
    if (!device::claimRecorder(device)) {
        // Another job drives this recorder: its commands must not interleave
        // with an erase.
        callBack(device, callback, 1, context);
        return 1;
    }
    if (!device::recorderSelected(device)) {
        device::releaseRecorder(device);
        callBack(device, callback, 1, context);
        return 1;
    }
    if (project.jobs.runningThreads.load() > 0) project.jobs.waitForThreads();
    device.eraseCallback = callback;
    device.eraseState = JobErasing;
    device.eraseContext = context;
    device.eraseMode = mode;
    device.eraseStop = 0;
    ++project.jobs.runningThreads;
    bool started = platform::startThread(EraseStackBytes, platform::ThreadPriority::Normal, [&project, &device] {
        (void)waitWhileBecomingReady(device);
        bool erased = EraseJob(device).run();
        device.suppressErrorCode = 0;
        CompletionCallback done = device.eraseCallback;
        void* doneContext = device.eraseContext;
        device.eraseState = 0;
        device::releaseRecorder(device);
        callBack(device, done, erased ? 0 : 1, doneContext);
        project.jobs.threadEnded();
    });
    if (!started) {
        --project.jobs.runningThreads;
        device.eraseState = 0;
        device::releaseRecorder(device);
        callBack(device, callback, 1, context);
    }
    return 1;
}

}  // namespace velk::jobs
