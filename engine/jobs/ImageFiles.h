// The image file of a file job. An image written to a regular file (or to a
// path where nothing is yet) goes to a temporary file beside the target and
// takes the target's place only when the job has succeeded, so a failed,
// aborted or interrupted job leaves no partial image and an older image of
// that name intact. A target that is not a regular file (a FIFO, a device)
// is written directly.
#pragma once

#include "engine/image/ImageProject.h"

namespace velk::jobs {

// Opens the image to burn; false with ErrOpenFile naming it.
[[nodiscard]] bool openImageForReading(ImageProject& project, const char* path);
// Opens the image output; false with ErrCreateFile naming it.
[[nodiscard]] bool openImageForWriting(ImageProject& project, const char* path);
// Writes the output's last bytes to disk and puts it in place; false (with
// the system error in jobs.lastSystemError) when that fails.
[[nodiscard]] bool commitImageOutput(JobFields& jobs);
// Closes the image file; a temporary output is removed.
void discardImageFile(JobFields& jobs);
// Records the calling thread's system error as the job's.
void recordSystemError(JobFields& jobs);

}  // namespace velk::jobs
