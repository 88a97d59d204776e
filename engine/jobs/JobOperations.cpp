#include "engine/jobs/JobOperations.h"

#include <cstdio>

#include "engine/image/HeaderGenerator.h"
#include "engine/jobs/Producer.h"
#include "engine/jobs/Writer.h"
#include "platform/Text.h"

namespace velk::jobs {
namespace {

using namespace std::chrono_literals;

void closeImageFile(JobFields& jobs) {
    if (jobs.imageFile) std::fclose(jobs.imageFile);
    jobs.imageFile = nullptr;
}

// The set-up shared by every job that streams an image: header, producer,
// primed wait, writer.
int SetUpBurnJob(ImageProject& project, RecorderDevice& device, CompletionCallback callback,
                 void* context) {
    JobFields& jobs = project.jobs;
    jobs.chunkSize = ChunkBytes;
    if (!jobs.toFile) {
        // Jobs that write to a recorder need the medium preparation and the
        // recorder writing steps, which this build does not have yet.
        closeImageFile(jobs);
        return 0;
    }
    if (jobs.toFile) {
        // An image file starts at address 0 whatever the last burn used.
        project.plan.startLba = 0;
        project.udf.sessionStart = 0;
    }
    if (!jobs.fromFile && !image::GenerateHeader(project, project.plan.startLba, project.udf.sessionStart)) {
        closeImageFile(jobs);
        return 0;
    }
    device.burnContext = context;
    jobs.stopRequested = 0;
    jobs.completionCallback = callback;
    if (!StartProducer(project)) {
        closeImageFile(jobs);
        return 0;
    }
    while (!jobs.bufferPrimed.load()) {
        if (jobs.stopRequested.load()) {
            // The producer has seen the stop (or failed) and ends by itself;
            // wait for it so the image file is no longer in use.
            jobs.waitUntil(5000ms, [&] { return jobs.producerFinished.load() != 0; });
            closeImageFile(jobs);
            return 0;
        }
        jobs.waitUntil(500ms, [&] {
            return jobs.bufferPrimed.load() != 0 || jobs.stopRequested.load() != 0;
        });
    }
    if (!StartWriter(project, device)) {
        jobs.stopRequested = 1;
        return 0;
    }
    return 1;
}

// Opens the image file of a file job ("rb" or "wb"); the path goes into
// errorFileName first so a failure's message names it.
bool openImageFile(ImageProject& project, const char* imagePath, const char* mode,
                   EngineError failure) {
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

int StartBurn(ImageProject& project, RecorderDevice& device, CompletionCallback callback,
              void* context) {
    project.jobs.toFile = 0;
    project.jobs.fromFile = 0;
    return SetUpBurnJob(project, device, callback, context);
}

int StartBurnFromImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                       CompletionCallback callback, void* context) {
    project.jobs.toFile = 0;
    project.jobs.fromFile = 1;
    if (!openImageFile(project, imagePath, "rb", ErrOpenFile)) return 0;
    return SetUpBurnJob(project, device, callback, context);
}

int StartWriteImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                    CompletionCallback callback, void* context) {
    project.jobs.fromFile = 0;
    if (!openImageFile(project, imagePath, "wb", ErrCreateFile)) return 0;
    project.jobs.toFile = 1;
    return SetUpBurnJob(project, device, callback, context);
}

int StartErase(ImageProject&, RecorderDevice&, int, CompletionCallback, void*) { return 0; }

void SetCloseOnly(ImageProject& project) { project.jobs.closeOnly = 1; }

}  // namespace velk::jobs
