// The MMC command set: one function per command. Each builds one request
// record (zeroed, then flags, data length, buffer, CDB length by opcode group
// and the CDB bytes of its command, multi-byte fields big-endian), sends it
// through ExecuteCdb and turns the final status into 1 (success) or 0.
// Success is status SrbComplete; WRITE (10), SYNCHRONIZE CACHE and BLANK also
// take status 0. Sense data and the hardware error code stay in the device
// as ExecuteCdb left them. Nothing retries.
//
// Response areas: ReadFormatCapacities and ReadBufferCapacity read into
// dataBuffer, ReadTrackInformation into trackInfo (fields in host order).
#pragma once

#include <cstdint>

#include "engine/device/BigEndian.h"
#include "engine/device/RecorderDevice.h"
#include "engine/device/ScsiRequestBlock.h"

namespace velk::mmc {

// CDB length of an opcode: 6 below 20h, 10 for 20h to 5Fh, 12 from A0h.
std::uint8_t cdbLengthFor(std::uint8_t opcode);

// Offsets of the fields of trackInfo after ReadTrackInformation.
inline constexpr std::size_t TrackDataLength = 0;        // 16-bit, host order
inline constexpr std::size_t TrackNumber = 2;
inline constexpr std::size_t TrackSessionNumber = 3;
inline constexpr std::size_t TrackFlags = 6;             // bit 4: fixed packet
inline constexpr std::size_t TrackStartAddress = 8;      // 32-bit, host order
inline constexpr std::size_t TrackNextWritable = 12;
inline constexpr std::size_t TrackFreeBlocks = 16;
inline constexpr std::size_t TrackFixedPacketSize = 20;
inline constexpr std::size_t TrackSize = 24;
inline constexpr std::size_t TrackLastRecorded = 28;
inline constexpr std::uint8_t InvisibleTrack = 0xFF;

// A 32-bit field of trackInfo (TrackStartAddress, TrackNextWritable,
// TrackFreeBlocks, TrackSize, ...), already in host order.
inline std::uint32_t trackField(const RecorderDevice& device, std::size_t offset) {
    return device::getHost32(device.trackInfo + offset);
}

[[nodiscard]] int TestUnitReady(RecorderDevice& device);
[[nodiscard]] int CheckUnit(RecorderDevice& device);  // TEST UNIT READY, always 1
[[nodiscard]] int RezeroUnit(RecorderDevice& device);
[[nodiscard]] int RequestSense(RecorderDevice& device, std::uint8_t* buffer, std::uint8_t length);
// FORMAT UNIT byte 1 for a parameter list of the jobs' kind: FmtData set,
// format code 1 (a list header, then one format descriptor).
inline constexpr std::uint8_t FormatWithDescriptor = 0x11;
[[nodiscard]] int FormatUnit(RecorderDevice& device, std::uint8_t byte1, std::uint8_t* list, std::uint32_t length);
[[nodiscard]] int Inquiry(RecorderDevice& device, std::uint8_t* buffer);  // 32 bytes
// The INQUIRY record of `length` bytes as the discovery scans send it
// straight to a transport (execute code and 24 sense bytes already set).
ScsiRequestBlock inquiryRequest(std::uint8_t* buffer, std::uint8_t length);
[[nodiscard]] int LoadMedium(RecorderDevice& device, int immediate);
// SYNCHRONIZE CACHE and unlock first, whatever they answer, then the eject.
[[nodiscard]] int Eject(RecorderDevice& device, int immediate);
[[nodiscard]] int LockMedium(RecorderDevice& device);
[[nodiscard]] int UnlockMedium(RecorderDevice& device);
// Block count: of the first descriptor that is type 0 with 2048-byte blocks,
// else of the first descriptor; 0 on failure or without any descriptor.
[[nodiscard]] std::uint32_t ReadFormatCapacities(RecorderDevice& device);
// forceUnitAccess sets FUA: the drive reads the medium, not its cache.
[[nodiscard]] int Read10(RecorderDevice& device, std::uint32_t address, std::uint16_t blocks, std::uint8_t* buffer,
                         int forceUnitAccess = 0);
[[nodiscard]] int Write10(RecorderDevice& device, std::uint32_t address, std::uint16_t blocks,
            const std::uint8_t* buffer, std::uint32_t bytes);
[[nodiscard]] int SynchronizeCache(RecorderDevice& device, int immediate);
[[nodiscard]] int ReadTocPmaAtip(RecorderDevice& device, std::uint8_t format, int msf, std::uint8_t number,
                   std::uint8_t* buffer, std::uint32_t length);
[[nodiscard]] int GetConfiguration(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length,
                     std::uint16_t feature);
[[nodiscard]] int ReadDiscInformation(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length);
[[nodiscard]] int ReadTrackInformation(RecorderDevice& device, std::uint8_t track);
[[nodiscard]] int ReserveTrack(RecorderDevice& device, std::uint32_t blocks);
[[nodiscard]] int SendOpcInformation(RecorderDevice& device);
[[nodiscard]] int ModeSelect10(RecorderDevice& device, std::uint8_t* list, std::uint32_t length);
[[nodiscard]] int ModeSense10(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length,
                std::uint8_t page, int defaults);
[[nodiscard]] int CloseTrackSession(RecorderDevice& device, int immediate, std::uint8_t function,
                      std::uint8_t byte3, std::uint8_t byte4, std::uint8_t byte5);
[[nodiscard]] int CloseLastTrackOrSession(RecorderDevice& device, int closeTrack, int immediate);
// Also converts the buffer length and blank length of a good answer that
// holds both into bufferLength / bufferBlank; otherwise they keep their last
// values.
[[nodiscard]] int ReadBufferCapacity(RecorderDevice& device);
[[nodiscard]] int SendCueSheet(RecorderDevice& device, std::uint8_t* sheet, std::uint32_t length);
[[nodiscard]] int Blank(RecorderDevice& device, int minimal);
[[nodiscard]] int GetPerformance(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length);
[[nodiscard]] int SetStreaming(RecorderDevice& device, std::uint8_t* list, std::uint32_t length);
// A speed of 0 is sent as FFFFh (the drive's maximum).
[[nodiscard]] int SetCdSpeed(RecorderDevice& device, std::uint16_t readSpeed, std::uint16_t writeSpeed);
[[nodiscard]] int SendDvdStructure(RecorderDevice& device, std::uint8_t format, std::uint8_t* list,
                     std::uint32_t length);

// Composite commands (WriteParameters.cpp).
// Mode page 05h composed for the disc type and sent back with MODE SELECT.
[[nodiscard]] int SetWriteParameters(RecorderDevice& device, int testWrite, int underrunProtection,
                       int multisession, std::uint8_t discType);
// SEND DVD STRUCTURE format 0Fh with the current UTC time as YYYYMMDDhhmmss.
[[nodiscard]] int SendDvdTimestamp(RecorderDevice& device);
[[nodiscard]] int SetStreamingPerformance(RecorderDevice& device, std::uint32_t start, std::uint32_t end,
                            std::uint32_t readSize, std::uint32_t writeSize,
                            std::uint32_t readTime, std::uint32_t writeTime);

// Where a mode page starts in a MODE SENSE (10) response: after the 8-byte
// header and the block descriptors whose length the header gives (bytes 6-7),
// with the page code compared without the PS bit. -1 when the response holds
// no such page within `available` bytes (nor within the mode data length).
int locateModePage(const std::uint8_t* response, std::size_t available, std::uint8_t pageCode);

// Bytes of a MODE SENSE response that belong to it: `available`, or less
// when the mode data length (bytes 0-1) says so.
std::size_t modeDataBytes(const std::uint8_t* response, std::size_t available);

// Bytes of a response that may be read: the smaller of what the drive moved
// and the response area.
std::size_t responseBytes(const RecorderDevice& device, std::size_t areaBytes);

}  // namespace velk::mmc
