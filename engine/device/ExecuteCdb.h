// The one path of every MMC command to the selected recorder.
//
// ExecuteCdb completes the caller's request (address of the selected
// recorder, 24 sense bytes requested, execute command code, completion
// event), hands it to the transport of the last Initialise, waits for its end
// and then, in this order: writes the command line to the trace log when one
// is open; sets `busy` when the transport refused the command with SCSI
// status BUSY; copies the sense area into `lastSense`; latches
// ASC * 256 + ASCQ into `lastErrorCode` when the ASC is not 0 and
// `suppressErrorCode` is 0. It returns the request's final status
// (SrbComplete, SrbError, or another value the ASPI-style library reports);
// the caller decides what counts as success. Nothing here retries.
#pragma once

#include <cstdint>

#include "engine/device/RecorderDevice.h"
#include "engine/device/ScsiRequestBlock.h"
#include "platform/Time.h"

namespace velk::device {

std::uint8_t ExecuteCdb(RecorderDevice& device, ScsiRequestBlock& request);

// The clock of the trace lines (UTC); tests put a fixed one in its place,
// nullptr restores the system clock.
using TraceClock = platform::SystemTime (*)();
void setTraceClock(TraceClock clock);

}  // namespace velk::device
