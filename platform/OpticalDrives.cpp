#include "platform/OpticalDrives.h"

#include <fstream>

namespace velk::platform {

int opticalDriveType(const std::string& sysfsRoot, int index) {
    if (index < 0 || index >= MaxOpticalDrives) return DriveTypeNoDrive;
    std::ifstream typeFile(sysfsRoot + "/class/block/sr" + std::to_string(index) + "/device/type");
    int type = -1;
    if (!(typeFile >> type)) return DriveTypeNoDrive;
    return type == 5 ? DriveTypeCdRom : DriveTypeNoDrive;
}

std::string opticalDriveNode(const std::string& devRoot, int index) {
    return devRoot + "/sr" + std::to_string(index);
}

}  // namespace velk::platform
