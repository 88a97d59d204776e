#include "engine/jobs/BurnSetUp.h"

#include <cstdio>

#include "engine/core/Media.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderClaim.h"
#include "engine/image/HeaderGenerator.h"
#include "engine/image/UdfVolume.h"
#include "engine/jobs/FormatLists.h"
#include "engine/jobs/ImageFiles.h"
#include "engine/jobs/Producer.h"
#include "engine/jobs/RecorderWaits.h"
#include "engine/jobs/Writer.h"

namespace velk::jobs {
namespace {

using namespace std::chrono_literals;

// Invalid field in parameter list: the test write bit of the write
// parameters, as a drive answers it on media that cannot simulate.
constexpr std::uint16_t TestWriteRefused = 0x2600;

bool formatUnit(RecorderDevice& device, const FormatList& list) {
    FormatList copy = list;
    return mmc::FormatUnit(device, mmc::FormatWithDescriptor, copy.data(),
                           static_cast<std::uint32_t>(copy.size())) != 0;
}

// Formats what the medium needs before it takes data. False when the
// preparation failed (a blank DVD+RW that cannot be formatted, a format that
// never ends).
bool prepareMedium(RecorderDevice& device, std::uint8_t type) {
    (void)mmc::SetWriteParameters(device, device.testWrite, device.underrunProtection, 0, type);
    (void)mmc::ReadDiscInformation(device, device.discInfo, DiscInfoBytes);
    if (device.testWrite) return true;  // a test write changes nothing on the disc
    switch (mediumOf(type).format) {
    case FormatMethod::Quick:
        if (!formatUnit(device, DvdRwQuickFormat)) (void)formatUnit(device, DvdRwQuickFormatFallback);
        return waitWhileNotReady(device, FormatWaitLimit);
    case FormatMethod::Grow:
        (void)formatUnit(device, DvdRwGrowFormat);
        return waitWhileNotReady(device, FormatWaitLimit);
    case FormatMethod::Background:
        // Only a blank disc needs the format started.
        if (mmc::ReadDiscInformation(device, device.discInfo, DiscInfoBytes) && (device.discInfo[2] & 0x03) == 0) {
            if (!formatUnit(device, DvdPlusRwFullFormat)) {
                reportLastSense(device);
                return false;
            }
            return waitWhileNotReady(device, FormatWaitLimit);
        }
        return true;
    case FormatMethod::Full:  // comes formatted
    case FormatMethod::None: return true;
    }
    return true;
}

// Media overwritten in place: the new image grows the volume already there
// (its descriptors at the disc's start are written again).
bool growsVolume(std::uint8_t type) { return mediumOf(type).overwritable(); }

// The block address where the new image starts.
void findStartAddress(ImageProject& project, RecorderDevice& device, std::uint8_t type) {
    if (growsVolume(type)) {
        project.plan.startLba = device::GetIsoVolumeSize(device);
        return;
    }
    std::uint8_t lastTrack = device::GetLastTrackNumber(device);
    if (mmc::ReadTrackInformation(device, lastTrack)) {
        project.plan.startLba = mmc::trackField(device, mmc::TrackNextWritable);
    } else if (mmc::ReadTrackInformation(device, 1)) {
        project.plan.startLba = mmc::trackField(device, mmc::TrackStartAddress);
    }
}

// The descriptor tag identifier of a block (ECMA-167 3/7.2.1), after a read
// whose failure is no error of the burn's; 0 when the block cannot be read.
std::uint16_t tagOfBlock(RecorderDevice& device, std::uint32_t lba, std::uint8_t* block) {
    LastErrorCodeKept kept(device);
    const bool read = mmc::Read10(device, lba, 1, block) != 0;
    return read ? static_cast<std::uint16_t>(block[0] | (block[1] << 8)) : 0;
}

// What of a grown volume goes to the disc's start besides its first chunk.
// The writer copies the new volume descriptors there (jobs.discStartBlocks):
// the blocks after them may hold the old volume's file data. UDF readers
// start at the anchor in block 256 of the disc, which still points at the
// first volume's structures: it is written again to point at the new
// image's, and the recognition sequence follows the descriptors. Some
// readers also take the file set from the partition's first block (257)
// instead of where the logical volume says, so the old file set there is
// replaced by one for the new tree. A block 256 that holds no anchor (the
// old volume had no UDF bridge and may keep file data there) is left alone,
// and so is the recognition sequence: readers then find the grown volume
// through ISO 9660 only. A new volume without the bridge over an old one
// with it takes the whole first chunk, so that the old recognition sequence
// is gone and no reader is sent to the old tree. False when a write fails.
bool pointDiscStartAtGrownVolume(ImageProject& project, RecorderDevice& device) {
    constexpr std::uint32_t AnchorBlock = 256;
    constexpr std::uint32_t FileSetBlock = 257;
    constexpr std::uint16_t AnchorTag = 2;
    constexpr std::uint16_t FileSetTag = 256;
    constexpr std::uint32_t RecognitionBlocks = 3;
    JobFields& jobs = project.jobs;
    jobs.discStartBlocks = 0;
    if (project.plan.startLba == 0 || device.testWrite) return true;
    jobs.discStartBlocks = project.udfOn ? project.udf.vrsStart : project.plan.isoPathTableL;
    std::uint8_t block[2048];
    if (tagOfBlock(device, AnchorBlock, block) != AnchorTag) return true;
    if (!project.udfOn) {
        jobs.discStartBlocks = 0;
        return true;
    }
    jobs.discStartBlocks += RecognitionBlocks;
    // The anchor writer counts blocks from the UDF session start; block 256
    // of the disc lies before it, at 256 - start (modulo 2^32, as the writer
    // adds the start back).
    image::writeAnchor(project, AnchorBlock - project.udf.sessionStart, block);
    if (!mmc::Write10(device, AnchorBlock, 1, block, sizeof block)) return false;
    if (tagOfBlock(device, FileSetBlock, block) != FileSetTag) return true;
    image::writeFileSetDescriptor(project, FileSetBlock - project.udf.partitionStart, block);
    return mmc::Write10(device, FileSetBlock, 1, block, sizeof block) != 0;
}

}  // namespace

int SetUpBurnJob(ImageProject& project, RecorderDevice& device, CompletionCallback callback, void* context) {
    JobFields& jobs = project.jobs;
    const bool toRecorder = jobs.toFile == 0;
    auto giveUp = [&] {
        discardImageFile(jobs);
        device::releaseRecorder(device);
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
        if (!device::recorderSelected(device) || type == DiscNone) return giveUp();
        if (device.testWrite && !mediumOf(type).testWrite) {
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
        // A grown volume's UDF structures lie in the new image like the
        // rest of it, so they start where it starts.
        bool readTrack = toRecorder && !jobs.fromFile && !growsVolume(type);
        project.udf.sessionStart = readTrack ? mmc::trackField(device, mmc::TrackStartAddress) : project.plan.startLba;
    }
    if (!jobs.fromFile && !image::GenerateHeader(project, project.plan.startLba, project.udf.sessionStart)) {
        return giveUp();
    }
    jobs.discStartBlocks = 0;
    if (toRecorder && !jobs.fromFile && growsVolume(type) && !pointDiscStartAtGrownVolume(project, device)) {
        reportLastSense(device);
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
