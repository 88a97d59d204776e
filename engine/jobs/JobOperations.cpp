#include "engine/jobs/JobOperations.h"

#include <cstdio>

#include "engine/device/DeviceOperations.h"
#include "engine/device/RecorderClaim.h"
#include "engine/jobs/BurnSetUp.h"
#include "engine/jobs/ImageFiles.h"
#include "engine/jobs/RecorderWaits.h"

namespace velk::jobs {
namespace {

// A job that has just called back may still be ending its threads; the next
// one waits for them, so it never shares the job fields with them.
void waitForEndingJob(ImageProject& project) {
    if (project.jobs.runningThreads.load() > 0) project.jobs.waitForThreads();
}

}  // namespace

int StartBurn(ImageProject& project, RecorderDevice& device, CompletionCallback callback, void* context) {
    if (!device::claimRecorder(device)) return 0;
    waitForEndingJob(project);
    project.jobs.toFile = 0;
    project.jobs.fromFile = 0;
    project.jobs.lastSystemError = 0;
    (void)waitWhileBecomingReady(device);
    device.cachedDiscType = static_cast<std::uint8_t>(device::GetDiscType(device));
    return SetUpBurnJob(project, device, callback, context);
}

int StartBurnFromImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                       CompletionCallback callback, void* context) {
    if (!device::claimRecorder(device)) return 0;
    waitForEndingJob(project);
    project.jobs.toFile = 0;
    project.jobs.fromFile = 1;
    if (!openImageForReading(project, imagePath)) {
        device::releaseRecorder(device);
        return 0;
    }
    (void)waitWhileBecomingReady(device);
    device.cachedDiscType = static_cast<std::uint8_t>(device::GetDiscType(device));
    return SetUpBurnJob(project, device, callback, context);
}

int StartWriteImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                    CompletionCallback callback, void* context) {
    // An image job shares the job fields with a burn, so it waits its turn
    // the same way.
    if (!device::claimRecorder(device, false)) return 0;
    waitForEndingJob(project);
    project.jobs.fromFile = 0;
    if (!openImageForWriting(project, imagePath)) {
        device::releaseRecorder(device);
        return 0;
    }
    project.jobs.toFile = 1;
    return SetUpBurnJob(project, device, callback, context);
}

void SetCloseOnly(ImageProject& project) { project.jobs.closeOnly = 1; }

}  // namespace velk::jobs
