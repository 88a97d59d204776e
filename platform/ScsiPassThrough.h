// SCSI pass-through on Linux: one SG_IO request on an open block node of an
// optical drive (/dev/srN), and the SCSI address of that node.
//
// Transport contract of sendPassThrough:
// - the CDB (6 to 16 bytes) goes out as given; `direction` says whether
//   `length` bytes move from the device into `buffer`, from `buffer` to the
//   device, or nothing moves (length 0). The caller owns the buffer; data moves
//   directly to or from it, without a copy;
// - sense data lands in the caller's 32-byte sense area, of which 24 bytes are
//   requested from the driver; the time-out is the caller's (120 s for every
//   engine command);
// - the result keeps the three outcomes apart: `delivered` false is a transport
//   failure (the ioctl failed: osError holds errno; or the host adapter or
//   driver reported an error: osError is EIO); delivered with scsiStatus 0 is
//   success; any other scsiStatus (2 = CHECK CONDITION, 8 = BUSY) is the
//   drive's answer with its sense bytes.
// Linux has no media-changed error on this path, so the callers never retry.
#pragma once

#include <cstdint>

namespace velk::platform {

enum class DataDirection : std::uint8_t { None, FromDevice, ToDevice };

inline constexpr std::uint32_t PassThroughTimeoutMs = 120000;
inline constexpr std::uint8_t PassThroughSenseCapacity = 32;

struct PassThroughCommand {
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLength = 0;
    DataDirection direction = DataDirection::None;
    std::uint8_t* buffer = nullptr;
    std::uint32_t length = 0;
    std::uint8_t* sense = nullptr;        // PassThroughSenseCapacity bytes
    std::uint8_t senseRequested = 24;     // at most PassThroughSenseCapacity
    std::uint32_t timeoutMs = PassThroughTimeoutMs;
};

struct PassThroughResult {
    bool delivered = false;
    std::uint8_t scsiStatus = 0;
    std::uint8_t senseBytes = 0;       // sense bytes the driver wrote
    std::uint32_t transferred = 0;     // data bytes moved (length minus residue)
    int osError = 0;                   // 0 when delivered
    std::uint8_t hostStatus = 0;       // the host adapter's status when it failed the command
};

PassThroughResult sendPassThrough(int handle, const PassThroughCommand& command);

// Host number, channel, SCSI id and LUN of the device behind a node: from
// SG_GET_SCSI_ID, or, for the sr driver which does not answer it, from
// SCSI_IOCTL_GET_IDLUN. False when neither answers.
struct ScsiAddress {
    std::uint8_t host = 0;
    std::uint8_t channel = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
};
bool queryScsiAddress(int handle, ScsiAddress& address);

// The ioctl call behind both functions above. Tests put a fake in its place;
// nullptr restores the system call. The fake reports failure as ioctl does:
// -1 with errno set.
using IoctlFunction = int (*)(int handle, unsigned long request, void* argument);
void setIoctlFunction(IoctlFunction function);

}  // namespace velk::platform
