// The device side of the engine's surface: recorder list and selection,
// medium and drive commands, and the drive and disc queries.
#pragma once

#include <cstdint>

#include "engine/device/RecorderDevice.h"

namespace velk::device {

int Initialise(RecorderDevice& device, int forceAspi, const char* aspiLibraryPath, int reserved,
               const char* traceLogPath);
std::uint8_t GetDeviceCount(RecorderDevice& device);
const char* GetDeviceName(RecorderDevice& device, int index);
int SelectByIndex(RecorderDevice& device, int index);
int SelectByLetter(RecorderDevice& device, char letter);
int CanWrite(RecorderDevice& device);
int QueryCapability(RecorderDevice& device, int code);

int TestUnitReady(RecorderDevice& device);
int CheckUnit(RecorderDevice& device);
int LoadMedium(RecorderDevice& device);
int Eject(RecorderDevice& device);
int LockMedium(RecorderDevice& device);
int UnlockMedium(RecorderDevice& device);
int SetSpeeds(RecorderDevice& device, std::uint16_t readSpeed, std::uint16_t writeSpeed);
std::uint16_t GetReadSpeed(RecorderDevice& device);
std::uint16_t GetWriteSpeed(RecorderDevice& device);
std::uint16_t GetMaxReadSpeed(RecorderDevice& device);
std::uint16_t GetMaxWriteSpeed(RecorderDevice& device);
std::uint16_t GetMaxWriteSpeedCurrent(RecorderDevice& device);
DiscType GetDiscType(RecorderDevice& device);
int CanErase(RecorderDevice& device);
int IsDiscWritable(RecorderDevice& device);
int GetFreeBlocks(RecorderDevice& device);
int GetDiscCapacity(RecorderDevice& device);
std::uint8_t GetSessionCount(RecorderDevice& device);
std::uint32_t GetIsoVolumeSize(RecorderDevice& device);

// Below the engine's surface: used by the jobs, the session import and the
// tools.
std::uint8_t GetSelectedIndex(RecorderDevice& device);
// Reads mode page 2Ah (defaults and current values), page 30h and the DVD+RW,
// DVD+R dual layer and DVD-R/-RW write features into capabilitiesPage, the
// speeds and capabilityFlags. 0 when page 2Ah cannot be read.
int ProbeCapabilities(RecorderDevice& device);
std::uint8_t GetLastTrackNumber(RecorderDevice& device);
std::uint32_t GetDriveBufferSize(RecorderDevice& device);
std::uint32_t GetDriveBufferUsed(RecorderDevice& device);
// The letter of the drive whose SCSI address equals that of the entry being
// built (entries[deviceCount]); NoDriveLetter when none matches.
inline constexpr int NoDriveLetter = 0x81;
int FindDriveLetter(RecorderDevice& device);
// The ASPI-style scan over the library whose entry point sendAspiCommand
// holds (Initialise runs it after loading the library); appends to the list
// and stops when it is full.
void ScanAspi(RecorderDevice& device);

// Indexes into capabilityFlags.
enum CapabilityFlag : int {
    CapCdRRead, CapCdRwRead, CapDvdRRead, CapDvdRwRead, CapDvdRamRead, CapDvdPlusRwRead,
    CapDvdPlusRDlRead, CapDvdPlusRRead, CapDvdRomRead, CapCdRWrite, CapCdRwWrite, CapDvdRWrite,
    CapDvdRwWrite, CapDvdRamWrite, CapDvdPlusRwWrite, CapDvdPlusRDlWrite, CapDvdPlusRWrite,
};

}  // namespace velk::device
