// One job per recorder. A burn, a burn from an image file and an erase hold
// their recorder from the start of their set-up until just before their
// completion callback; a second job on the same recorder (from this engine or
// another one in the process) is refused, so two jobs never interleave their
// commands on one drive.
#pragma once

#include "engine/device/RecorderDevice.h"

namespace velk::device {

// Takes the engine's job fields for a job and, when `usesRecorder`, the
// selected recorder too; false when a job of this engine runs or another job
// holds the recorder.
[[nodiscard]] bool claimRecorder(RecorderDevice& device, bool usesRecorder = true);
// Gives both back (no-op when this device holds no claim).
void releaseRecorder(RecorderDevice& device);

// True when a recorder is selected (the list has one and the selection
// points at it).
bool recorderSelected(const RecorderDevice& device);

}  // namespace velk::device
