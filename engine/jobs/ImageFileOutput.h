// The image-file destination of a burn job's writer: the chunks of the
// queue go to the open image file (jobs.imageFile) in order, and the file
// ends exactly imageBlocks * 2048 bytes long. A complete image takes its
// target's place (ImageFiles.h); anything else leaves no trace. A failed
// write fails the job with ErrCreateFile naming the file and asks the
// producer to stop.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/image/ImageProject.h"

namespace velk::jobs {

class ImageFileOutput {
public:
    explicit ImageFileOutput(ImageProject& project);

    // Appends `length` bytes; false when the write failed (the job has
    // failed with ErrCreateFile).
    [[nodiscard]] bool write(const std::uint8_t* data, std::uint32_t length);
    // Zeros up to the image's planned end: the stream can end before the
    // image's rounded end (no closing anchor fills it). False when a write
    // failed.
    [[nodiscard]] bool pad();
    // Puts a complete image in place, or discards the file when the job
    // failed; false when the complete image could not take its target's
    // place (the job has then failed).
    [[nodiscard]] bool finish();

private:
    void fail();

    ImageProject& project_;
    JobFields& jobs_;
    std::unique_ptr<std::uint8_t[]> zeros_;
    std::uint64_t bytesWritten_ = 0;
    bool failed_ = false;
};

}  // namespace velk::jobs
