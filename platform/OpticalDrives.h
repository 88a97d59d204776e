// Discovery of the optical drives of the machine through sysfs.
//
// An optical drive is a block device srN whose SCSI peripheral type
// (<sysfsRoot>/class/block/srN/device/type) is 5. Drive N stands in the
// engine's drive-letter scheme as letter 'C' + N, so at most 24 drives
// (sr0 to sr23) are seen; its block node is <devRoot>/srN. Both roots are
// parameters so that tests can use a tree of their own ("/sys" and "/dev" on
// a running system).
#pragma once

#include <string>

namespace velk::platform {

inline constexpr int MaxOpticalDrives = 24;

// The drive-type numbers the scan traces: 5 for an optical drive, 1 when the
// letter stands for no optical drive.
inline constexpr int DriveTypeNoDrive = 1;
inline constexpr int DriveTypeCdRom = 5;

// Drive type of drive N (0 <= N < MaxOpticalDrives).
int opticalDriveType(const std::string& sysfsRoot, int index);
// <devRoot>/srN.
std::string opticalDriveNode(const std::string& devRoot, int index);

}  // namespace velk::platform
