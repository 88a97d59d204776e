// The writer thread: takes the image chunk by chunk from the queue and sends
// each to its destination, then closes the destination and reports the end
// through the completion callback. For an image file the destination is the
// file, which ends exactly imageBlocks * 2048 bytes long; a failed write to
// it fails the job with ErrCreateFile naming the file.
#pragma once

#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"

namespace velk::jobs {

// Starts the writer thread; false when it cannot be started.
[[nodiscard]] bool StartWriter(ImageProject& project, RecorderDevice& device);

}  // namespace velk::jobs
