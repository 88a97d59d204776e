// Until the command layer is in place every device operation answers with its
// failure value: no recorder is listed, nothing can be selected or queried.
#include "engine/device/DeviceOperations.h"

#include "engine/device/TraceLog.h"

namespace velk::device {

int Initialise(RecorderDevice& device, int forceAspi, const char*, int, const char* traceLogPath) {
    device.forceAspi = static_cast<std::uint32_t>(forceAspi);
    if (traceLogPath && !trace::open(traceLogPath)) return 0;
    device.deviceCount = 0;
    return 0;
}
std::uint8_t GetDeviceCount(RecorderDevice& device) { return device.deviceCount; }
const char* GetDeviceName(RecorderDevice& device, int index) {
    if (index < 0 || index >= device.deviceCount) return nullptr;
    return device.entries[index].name;
}
int SelectByIndex(RecorderDevice&, int) { return 0; }
int SelectByLetter(RecorderDevice&, char) { return 0; }
int CanWrite(RecorderDevice&) { return 0; }
int QueryCapability(RecorderDevice&, int) { return 0; }
int TestUnitReady(RecorderDevice&) { return 0; }
int CheckUnit(RecorderDevice&) { return 1; }
int LoadMedium(RecorderDevice&) { return 0; }
int Eject(RecorderDevice&) { return 0; }
int LockMedium(RecorderDevice&) { return 0; }
int UnlockMedium(RecorderDevice&) { return 0; }
int SetSpeeds(RecorderDevice& device, std::uint16_t readSpeed, std::uint16_t writeSpeed) {
    device.readSpeed = readSpeed;
    device.writeSpeed = writeSpeed;
    return 0;
}
std::uint16_t GetReadSpeed(RecorderDevice&) { return 0; }
std::uint16_t GetWriteSpeed(RecorderDevice&) { return 0; }
std::uint16_t GetMaxReadSpeed(RecorderDevice&) { return 0; }
std::uint16_t GetMaxWriteSpeed(RecorderDevice&) { return 0; }
std::uint16_t GetMaxWriteSpeedCurrent(RecorderDevice&) { return 0; }
DiscType GetDiscType(RecorderDevice&) { return DiscNone; }
int CanErase(RecorderDevice&) { return 0; }
int IsDiscWritable(RecorderDevice&) { return 0; }
int GetFreeBlocks(RecorderDevice&) { return 0; }
int GetDiscCapacity(RecorderDevice&) { return 0; }
std::uint8_t GetSessionCount(RecorderDevice&) { return 0; }
std::uint32_t GetIsoVolumeSize(RecorderDevice&) { return 0; }

}  // namespace velk::device
