#include "engine/jobs/BurnSetUp.h"

#include <cstdio>
#include <cstring>

#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/image/HeaderGenerator.h"
#include "engine/jobs/FormatLists.h"
#include "engine/jobs/ImageFiles.h"
#include "engine/jobs/JobClaim.h"
#include "engine/jobs/Producer.h"
#include "engine/jobs/RecorderWaits.h"
#include "engine/jobs/Writer.h"

namespace velk::jobs {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t FormatUnitByte1 = 0x11;  // FmtData, format code 1
// Invalid field in parameter list: the test write bit of the write
// parameters, as a drive answers it on media that cannot simulate.
constexpr std::uint16_t TestWriteRefused = 0x2600;

// Media on which a test write records nothing.
bool canSimulate(std::uint8_t type) {
    return type == DiscCdR || type == DiscCdRw || type == DiscDvdR || type == DiscDvdRwSequential ||
           type == DiscDdcdR || type == DiscDdcdRw;
}

bool formatUnit(RecorderDevice& device, const FormatList& list) {
    FormatList copy = list;
    return mmc::FormatUnit(device, FormatUnitByte1, copy.data(), static_cast<std::uint32_t>(copy.size())) != 0;
}

std::uint32_t trackField(const RecorderDevice& device, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, device.trackInfo + offset, sizeof value);
    return value;
}

// Formats what the medium needs before it takes data. False when the
// preparation failed (a blank DVD+RW that cannot be formatted, a format that
// never ends).
bool prepareMedium(RecorderDevice& device, std::uint8_t type) {
    (void)mmc::SetWriteParameters(device, device.testWrite, device.underrunProtection, 0, type);
    (void)mmc::ReadDiscInformation(device, device.discInfo, DiscInfoBytes);
    if (device.testWrite) return true;  // a test write changes nothing on the disc
    switch (type) {
    case DiscDvdRwSequential:
        if (!formatUnit(device, DvdRwQuickFormat)) (void)formatUnit(device, DvdRwQuickFormatFallback);
        return waitWhileNotReady(device, FormatWaitLimit);
    case DiscDvdRwRestricted:
        (void)formatUnit(device, DvdRwGrowFormat);
        return waitWhileNotReady(device, FormatWaitLimit);
    case DiscDvdPlusRw:
        if (mmc::ReadDiscInformation(device, device.discInfo, DiscInfoBytes) && (device.discInfo[2] & 0x03) == 0) {
            if (!formatUnit(device, DvdPlusRwFullFormat)) {
                reportLastSense(device);
                return false;
            }
            return waitWhileNotReady(device, FormatWaitLimit);
        }
        return true;
    default:
        return true;
    }
}

// The block address where the new image starts.
void findStartAddress(ImageProject& project, RecorderDevice& device, std::uint8_t type) {
    if (type == DiscDvdRam || type == DiscDvdPlusRw) {
        project.plan.startLba = device::GetIsoVolumeSize(device);
        return;
    }
    std::uint8_t lastTrack = device::GetLastTrackNumber(device);
    if (mmc::ReadTrackInformation(device, lastTrack)) {
        project.plan.startLba = trackField(device, mmc::TrackNextWritable);
    } else if (mmc::ReadTrackInformation(device, 1)) {
        project.plan.startLba = trackField(device, mmc::TrackStartAddress);
    }
}

}  // namespace

int SetUpBurnJob(ImageProject& project, RecorderDevice& device, CompletionCallback callback, void* context) {
    JobFields& jobs = project.jobs;
    const bool toRecorder = jobs.toFile == 0;
    auto giveUp = [&] {
        discardImageFile(jobs);
        releaseRecorder(device);
        device.suppressErrorCode = 0;
        return 0;
    };
    jobs.chunkSize = ChunkBytes;
    {
        std::lock_guard<std::mutex> lock(project.lock);
        jobs.grownFiles.clear();
    }
    const std::uint8_t type = device.cachedDiscType;
    if (toRecorder) {
        if (!recorderSelected(device) || type == DiscNone) return giveUp();
        if (device.testWrite && !canSimulate(type)) {
            // The medium has no test write: the drive would really write.
            device.lastErrorCode = TestWriteRefused;
            return giveUp();
        }
        if (!prepareMedium(device, type)) return giveUp();
        if (!jobs.fromFile) findStartAddress(project, device, type);
    } else {
        // An image file starts at address 0 whatever the last burn used.
        project.plan.startLba = 0;
    }
    if (project.udfOn) {
        bool readTrack = toRecorder && !jobs.fromFile && type != DiscDvdRam && type != DiscDvdPlusRw;
        project.udf.sessionStart = readTrack ? trackField(device, mmc::TrackStartAddress) : project.plan.startLba;
    }
    if (!jobs.fromFile && !image::GenerateHeader(project, project.plan.startLba, project.udf.sessionStart)) {
        return giveUp();
    }
    device.burnContext = context;
    jobs.stopRequested = 0;
    jobs.completionCallback = callback;
    if (!StartProducer(project)) return giveUp();
    while (!jobs.bufferPrimed.load()) {
        if (jobs.stopRequested.load()) {
            // The producer has seen the stop (or failed) and ends by itself;
            // wait for it so its file is no longer in use.
            jobs.waitUntil(5000ms, [&] { return jobs.producerFinished.load() != 0; });
            return giveUp();
        }
        jobs.waitUntil(500ms, [&] { return jobs.bufferPrimed.load() != 0 || jobs.stopRequested.load() != 0; });
    }
    if (!StartWriter(project, device)) {
        jobs.stopRequested = 1;
        jobs.notify();
        jobs.waitUntil(5000ms, [&] { return jobs.producerFinished.load() != 0; });
        return giveUp();
    }
    return 1;
}

}  // namespace velk::jobs
