#include "platform/ScsiPassThrough.h"

#include <cerrno>
#include <cstring>

#include <scsi/sg.h>
#include <scsi/scsi.h>
#include <sys/ioctl.h>

namespace velk::platform {
namespace {

int systemIoctl(int handle, unsigned long request, void* argument) {
    return ::ioctl(handle, request, argument);
}

IoctlFunction currentIoctl = &systemIoctl;

int directionOf(DataDirection direction) {
    switch (direction) {
    case DataDirection::FromDevice: return SG_DXFER_FROM_DEV;
    case DataDirection::ToDevice: return SG_DXFER_TO_DEV;
    case DataDirection::None: break;
    }
    return SG_DXFER_NONE;
}

}  // namespace

void setIoctlFunction(IoctlFunction function) {
    currentIoctl = function ? function : &systemIoctl;
}

PassThroughResult sendPassThrough(int handle, const PassThroughCommand& command) {
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    header.dxfer_direction = directionOf(command.direction);
    header.cmd_len = command.cdbLength;
    header.mx_sb_len = command.senseRequested <= PassThroughSenseCapacity
                           ? command.senseRequested
                           : PassThroughSenseCapacity;
    header.dxfer_len = command.direction == DataDirection::None ? 0 : command.length;
    header.dxferp = command.direction == DataDirection::None ? nullptr : command.buffer;
    header.cmdp = const_cast<unsigned char*>(command.cdb);
    header.sbp = command.sense;
    header.timeout = command.timeoutMs;

    PassThroughResult result;
    errno = 0;
    if (currentIoctl(handle, SG_IO, &header) < 0) {
        result.osError = errno != 0 ? errno : EIO;
        return result;
    }
    result.scsiStatus = header.status;
    result.senseBytes = header.sb_len_wr <= PassThroughSenseCapacity
                            ? header.sb_len_wr
                            : PassThroughSenseCapacity;
    std::int64_t moved = static_cast<std::int64_t>(header.dxfer_len) - header.resid;
    if (moved < 0) moved = 0;
    result.transferred = static_cast<std::uint32_t>(moved);
    // Host adapter or driver trouble (time-out, reset, bad target) is a
    // transport failure even when the ioctl itself succeeded. A driver status
    // that only says "sense data present" belongs to a check condition.
    bool hostOk = header.host_status == 0;
    bool driverOk = (header.driver_status & ~0x08u) == 0;  // 0x08: DRIVER_SENSE
    if (!hostOk || !driverOk) {
        result.osError = EIO;
        result.hostStatus = static_cast<std::uint8_t>(header.host_status);
        return result;
    }
    result.delivered = true;
    return result;
}

bool queryScsiAddress(int handle, ScsiAddress& address) {
    struct sg_scsi_id id;
    std::memset(&id, 0, sizeof id);
    if (currentIoctl(handle, SG_GET_SCSI_ID, &id) == 0) {
        address.host = static_cast<std::uint8_t>(id.host_no);
        address.channel = static_cast<std::uint8_t>(id.channel);
        address.target = static_cast<std::uint8_t>(id.scsi_id);
        address.lun = static_cast<std::uint8_t>(id.lun);
        return true;
    }
    // The word packs id | lun << 8 | channel << 16 | host << 24.
    struct {
        std::uint32_t fourInOne;
        std::uint32_t hostUniqueId;
    } idLun{};
    if (currentIoctl(handle, SCSI_IOCTL_GET_IDLUN, &idLun) == 0) {
        address.target = static_cast<std::uint8_t>(idLun.fourInOne & 0xFF);
        address.lun = static_cast<std::uint8_t>((idLun.fourInOne >> 8) & 0xFF);
        address.channel = static_cast<std::uint8_t>((idLun.fourInOne >> 16) & 0xFF);
        address.host = static_cast<std::uint8_t>((idLun.fourInOne >> 24) & 0xFF);
        return true;
    }
    return false;
}

}  // namespace velk::platform
