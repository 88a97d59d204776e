// The erase job: empties a rewritable disc on a thread of its own and
// reports the end through a completion callback.
//
//   CD-RW, DVD-RW  BLANK (minimal for quick, the whole disc for full), then
//                  wait while not ready
//   DVD-RAM        quick: zeros over the first 4,096 blocks; full: FORMAT
//                  UNIT and wait
//   DVD+RW         quick: FORMAT UNIT, zeros over the first 512 blocks, close
//                  function 3; full: FORMAT UNIT, zeros over the whole disc
//                  (GetJobState reports JobFormatting meanwhile)
//
// A write-once disc refuses BLANK, and the job fails. Every wait is bounded.
// A failure leaves the recorder's sense as the error code. The job holds the
// recorder from StartErase to just before its callback: a second job on the
// same recorder is refused, and so is an erase while a burn runs (the
// callback is then called at once with failure).
#pragma once

#include "engine/core/EngineTypes.h"
#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"

namespace velk::jobs {

// Always 1; the result comes through the callback, also when no recorder is
// selected.
int StartErase(ImageProject& project, RecorderDevice& device, int mode, CompletionCallback callback, void* context);

}  // namespace velk::jobs
