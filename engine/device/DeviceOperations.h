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

}  // namespace velk::device
