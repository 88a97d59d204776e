#include "engine/jobs/ImageFileOutput.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "engine/jobs/ImageFiles.h"
#include "platform/Text.h"

namespace velk::jobs {
namespace {

constexpr std::uint32_t BlockBytes = 2048;

}  // namespace

ImageFileOutput::ImageFileOutput(ImageProject& project)
    : project_(project), jobs_(project.jobs), zeros_(new std::uint8_t[ChunkBytes]()) {}

void ImageFileOutput::fail() {
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

bool ImageFileOutput::write(const std::uint8_t* data, std::uint32_t length) {
    if (std::fwrite(data, 1, length, jobs_.imageFile) != length) {
        recordSystemError(jobs_);
        fail();
        return false;
    }
    bytesWritten_ += length;
    return true;
}

bool ImageFileOutput::pad() {
    std::uint64_t wanted = static_cast<std::uint64_t>(project_.plan.imageBlocks) * BlockBytes;
    while (bytesWritten_ < wanted) {
        std::uint32_t n = static_cast<std::uint32_t>(std::min<std::uint64_t>(ChunkBytes, wanted - bytesWritten_));
        if (!write(zeros_.get(), n)) return false;
    }
    return true;
}

bool ImageFileOutput::finish() {
    if (!failed_ && project_.pendingError.load() == 0) {
        if (commitImageOutput(jobs_)) return true;
        fail();
        return false;
    }
    discardImageFile(jobs_);
    return true;
}

}  // namespace velk::jobs
