// The drive commands of the engine's surface and the capability codes.
#include "engine/device/DeviceOperations.h"

#include "engine/core/TraceLog.h"
#include "engine/device/MmcCommands.h"

namespace velk::device {

int TestUnitReady(RecorderDevice& device) { return mmc::TestUnitReady(device); }
int CheckUnit(RecorderDevice& device) { return mmc::CheckUnit(device); }
int LoadMedium(RecorderDevice& device) { return mmc::LoadMedium(device, 0); }
int Eject(RecorderDevice& device) { return mmc::Eject(device, 0); }
int LockMedium(RecorderDevice& device) { return mmc::LockMedium(device); }
int UnlockMedium(RecorderDevice& device) { return mmc::UnlockMedium(device); }

int QueryCapability(RecorderDevice& device, int code) {
    const std::int32_t* flags = device.capabilityFlags;
    switch (code) {
    case 1: return flags[CapCdRRead];
    case 2: return flags[CapCdRwRead];
    case 3: return flags[CapDvdRamRead];
    case 4: return flags[CapDvdRRead];
    case 5: return flags[CapDvdRwRead];
    case 6: return flags[CapDvdPlusRwRead];
    case 7: return flags[CapDvdPlusRRead];
    case 8: return flags[CapDvdPlusRDlRead];
    case 11: return flags[CapCdRWrite];
    case 12: return flags[CapCdRwWrite];
    case 13: return flags[CapDvdRamWrite];
    case 14: return flags[CapDvdRWrite];
    case 15: return flags[CapDvdRwWrite];
    case 16: return flags[CapDvdPlusRwWrite];
    case 17: return flags[CapDvdPlusRWrite];
    case 18: return flags[CapDvdPlusRDlWrite];
    case 21: return (device.capabilitiesPage[3] >> 2) & 1;
    case 22: return (device.capabilitiesPage[4] >> 7) & 1;
    case 72: return trace::open(trace::defaultPath()) ? 1 : 0;
    case 73: return trace::close() ? 1 : 0;
    default: return 0;
    }
}

}  // namespace velk::device
