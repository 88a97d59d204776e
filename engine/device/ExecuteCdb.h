// The one path of every MMC command to the selected recorder.
//
// ExecuteCdb completes the caller's request (address of the selected
// recorder, 24 sense bytes requested, execute command code, completion
// event), hands it to the transport of the last Initialise, waits for its end
// and writes the command line to the trace log when one is open. The sense
// is read with parseSense (Sense.h), fixed or descriptor format:
// - a unit attention (key 6: a disc change, a reset) was the answer instead
//   of the command's own, so the command goes again, up to 3 times;
// - a recovered error (key 1) is a success: the drive carried the command
//   out; its sense is dropped;
// - a deferred error (71h/73h) fails this command and is kept in
//   `deferredErrorCode` for the job that holds the recorder.
// Each of these gets a line of its own in the trace after the command's.
// Then, in this order: sets `busy` when the transport refused the command
// with SCSI status BUSY; sets `lastTransportFailure` (and the transport
// fields of its message) when the command failed with neither a SCSI status
// nor sense, i.e. never reached the drive; copies the sense area into `lastSense`; latches
// ASC * 256 + ASCQ into `lastErrorCode` when the ASC is not 0 and
// `suppressErrorCode` is 0. It returns the request's final status
// (SrbComplete, SrbError, or another value the ASPI-style library reports);
// the caller decides what counts as success.
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
