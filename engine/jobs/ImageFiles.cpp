#include "engine/jobs/ImageFiles.h"

#include <cerrno>

#include "platform/Files.h"
#include "platform/Text.h"

namespace velk::jobs {

void recordSystemError(JobFields& jobs) { jobs.lastSystemError = platform::lastSystemError(); }

void discardImageFile(JobFields& jobs) {
    if (jobs.imageFile) std::fclose(jobs.imageFile);
    jobs.imageFile = nullptr;
    if (!jobs.imageTempPath.empty()) (void)platform::removeFile(jobs.imageTempPath);
    jobs.imageTempPath.clear();
}

namespace {

// The path goes into errorFileName first so a failure's message names it.
void nameImageFile(ImageProject& project, const char* path) {
    discardImageFile(project.jobs);
    project.jobs.imagePath = path ? path : "";
    project.errorFileName = platform::toUtf16(project.jobs.imagePath);
    project.jobs.lastSystemError = 0;
}

bool refuse(ImageProject& project, EngineError code, int systemError) {
    project.jobs.lastSystemError = systemError;
    project.pendingError = code;
    return false;
}

}  // namespace

bool openImageForReading(ImageProject& project, const char* path) {
    nameImageFile(project, path);
    JobFields& jobs = project.jobs;
    if (jobs.imagePath.empty()) return refuse(project, ErrOpenFile, ENOENT);
    if (platform::pathKind(jobs.imagePath) == platform::PathKind::Directory) {
        return refuse(project, ErrOpenFile, EISDIR);
    }
    jobs.imageFile = std::fopen(jobs.imagePath.c_str(), "rb");
    if (!jobs.imageFile) return refuse(project, ErrOpenFile, platform::lastSystemError());
    return true;
}

bool openImageForWriting(ImageProject& project, const char* path) {
    nameImageFile(project, path);
    JobFields& jobs = project.jobs;
    // A file size limit must fail the write, not end the process.
    platform::ignoreFileSizeSignal();
    switch (jobs.imagePath.empty() ? platform::PathKind::Missing : platform::pathKind(jobs.imagePath)) {
    case platform::PathKind::Directory: return refuse(project, ErrCreateFile, EISDIR);
    case platform::PathKind::Other:
        jobs.imageFile = std::fopen(jobs.imagePath.c_str(), "wb");
        break;
    default:
        if (jobs.imagePath.empty()) return refuse(project, ErrCreateFile, ENOENT);
        // Through a link the image replaces the file it points to, never
        // the link (nor a device's name such as /dev/stdout).
        jobs.imageTarget = platform::resolvedPath(jobs.imagePath);
        jobs.imageFile = platform::createTempBeside(jobs.imageTarget, jobs.imageTempPath);
        break;
    }
    if (!jobs.imageFile) return refuse(project, ErrCreateFile, platform::lastSystemError());
    return true;
}

bool commitImageOutput(JobFields& jobs) {
    if (!jobs.imageFile) return true;
    // A full disk often shows only when the last buffered bytes go out.
    bool ok = platform::flushToDisk(jobs.imageFile);
    if (!ok) recordSystemError(jobs);
    if (std::fclose(jobs.imageFile) != 0 && ok) {
        recordSystemError(jobs);
        ok = false;
    }
    jobs.imageFile = nullptr;
    if (ok && !jobs.imageTempPath.empty()) {
        ok = platform::replaceFile(jobs.imageTempPath, jobs.imageTarget);
        if (!ok) recordSystemError(jobs);
    }
    if (!ok && !jobs.imageTempPath.empty()) (void)platform::removeFile(jobs.imageTempPath);
    jobs.imageTempPath.clear();
    return ok;
}

}  // namespace velk::jobs
