#include "engine/jobs/JobOperations.h"

#include <cstdio>

#include "engine/device/DeviceOperations.h"
#include "engine/jobs/BurnSetUp.h"
#include "engine/jobs/JobClaim.h"
#include "platform/Text.h"

namespace velk::jobs {
namespace {

void closeImageFile(JobFields& jobs) {
    if (jobs.imageFile) std::fclose(jobs.imageFile);
    jobs.imageFile = nullptr;
}

// A job that has just called back may still be ending its threads; the next
// one waits for them, so it never shares the job fields with them.
void waitForEndingJob(ImageProject& project) {
    if (project.jobs.runningThreads.load() > 0) project.jobs.waitForThreads();
}

// Opens the image file of a file job ("rb" or "wb"); the path goes into
// errorFileName first so a failure's message names it.
bool openImageFile(ImageProject& project, const char* imagePath, const char* mode, EngineError failure) {
    JobFields& jobs = project.jobs;
    std::string path = imagePath ? imagePath : "";
    project.errorFileName = platform::toUtf16(path);
    closeImageFile(jobs);
    jobs.imagePath = path;
    jobs.imageFile = path.empty() ? nullptr : std::fopen(path.c_str(), mode);
    if (!jobs.imageFile) project.pendingError = failure;
    return jobs.imageFile != nullptr;
}

}  // namespace

int StartBurn(ImageProject& project, RecorderDevice& device, CompletionCallback callback, void* context) {
    if (!claimRecorder(device)) return 0;
    waitForEndingJob(project);
    project.jobs.toFile = 0;
    project.jobs.fromFile = 0;
    device.cachedDiscType = static_cast<std::uint8_t>(device::GetDiscType(device));
    return SetUpBurnJob(project, device, callback, context);
}

int StartBurnFromImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                       CompletionCallback callback, void* context) {
    if (!claimRecorder(device)) return 0;
    waitForEndingJob(project);
    project.jobs.toFile = 0;
    project.jobs.fromFile = 1;
    if (!openImageFile(project, imagePath, "rb", ErrOpenFile)) {
        releaseRecorder(device);
        return 0;
    }
    device.cachedDiscType = static_cast<std::uint8_t>(device::GetDiscType(device));
    return SetUpBurnJob(project, device, callback, context);
}

int StartWriteImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                    CompletionCallback callback, void* context) {
    // An image job shares the job fields with a burn, so it waits its turn
    // the same way.
    if (!claimRecorder(device, false)) return 0;
    waitForEndingJob(project);
    project.jobs.fromFile = 0;
    if (!openImageFile(project, imagePath, "wb", ErrCreateFile)) {
        releaseRecorder(device);
        return 0;
    }
    project.jobs.toFile = 1;
    return SetUpBurnJob(project, device, callback, context);
}

void SetCloseOnly(ImageProject& project) { project.jobs.closeOnly = 1; }

}  // namespace velk::jobs
