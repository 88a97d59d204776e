// The writer thread: the second half of a burn job. It prepares the recorder
// (cache, write parameters, speeds, streaming, the DVD-R reservation, OPC),
// sends each chunk of the queue with one WRITE (10) to consecutive addresses,
// retrying while the recorder is busy, closes the track and session in the
// way the medium requires (Closing.h), reloads the tray and reports the end
// through the completion callback. For an image file the destination is the
// file (ImageFileOutput.h).
//
// The job fails (callback `failed` 1) when a WRITE fails for good, when the
// closing fails, when the producer stopped on an error or when it was
// aborted; the disc is closed with what was written in every case. A failed
// WRITE or closing leaves the recorder's sense as the error code.
#pragma once

#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"

namespace velk::jobs {

// Starts the writer thread; false when it cannot be started.
[[nodiscard]] bool StartWriter(ImageProject& project, RecorderDevice& device);

}  // namespace velk::jobs
