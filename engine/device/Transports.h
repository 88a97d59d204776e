// The two command transports. Each takes one request record, carries it to
// the selected recorder and reports the request's status; neither retries.
//
// Pass-through (sptiMode 1): SG_IO on the drive's block node. The node is
// opened on demand from the drive letter (letter 'C' + N is <devRoot>/srN)
// and closed again after the command when closeAfterCommand is 1. The result
// is final: SrbComplete, or SrbError with the SCSI status in targetStatus and
// the drive's sense bytes in the request's sense area (a check condition), or
// SrbError with targetStatus 0, no sense and the errno in lastOsError (the
// command never reached the drive). Time-out 120 s for every command.
//
// ASPI-style (sptiMode 0): the record goes unchanged to the library's
// SendASPI32Command, whose immediate answer is returned: SrbPending when the
// completion follows on the request's event.
#pragma once

#include <cstdint>
#include <string>

#include "engine/device/RecorderDevice.h"
#include "engine/device/ScsiRequestBlock.h"

namespace velk::device {

std::uint8_t SubmitPassThrough(RecorderDevice& device, ScsiRequestBlock& request);
std::uint32_t SubmitAspi(RecorderDevice& device, ScsiRequestBlock& request);

// Loads the library (the default name when path is null or empty), resolves
// both entry points and asks GetASPI32SupportInfo; false on any failure.
bool SetUpAspi(RecorderDevice& device, const char* libraryPath);
inline constexpr const char* DefaultAspiLibrary = "WNASPI32.DLL";

// Discovery roots of the device ("/sys", "/dev" unless a test set others).
std::string sysfsRootOf(const RecorderDevice& device);
std::string devRootOf(const RecorderDevice& device);
// The block node that stands for a drive letter; empty for a letter outside
// 'C' to 'Z'.
std::string nodePathForLetter(const RecorderDevice& device, char letter);

}  // namespace velk::device
