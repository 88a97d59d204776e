// The burn set-up shared by every job that streams an image (a burn, a burn
// from an image file, an image file): the medium preparation and start
// address of a burn, the header, the producer, the wait until the ring buffer
// has been filled once, and the writer.
//
// Medium preparation (jobs that write to a recorder): write parameters; a
// sequential DVD-RW is quick-formatted, a restricted-overwrite DVD-RW grown
// and a blank DVD+RW formatted, each followed by a bounded "not ready" wait.
// The new image starts at the size of the ISO 9660 volume already there on
// DVD-RAM, DVD+RW and restricted-overwrite DVD-RW (it grows that volume, its
// UDF structures start with it and the UDF anchor at block 256 of the disc is
// pointed at them), else at the next writable address of the last track.
#pragma once

#include "engine/core/EngineTypes.h"
#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"

namespace velk::jobs {

// 1 when the writer runs, 0 when the set-up stopped (no thread left running,
// no callback follows).
int SetUpBurnJob(ImageProject& project, RecorderDevice& device, CompletionCallback callback, void* context);

}  // namespace velk::jobs
