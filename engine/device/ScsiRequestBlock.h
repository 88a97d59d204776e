// The request records of the ASPI-style command interface.
//
// Every command the engine sends travels as one ScsiRequestBlock, whichever
// transport carries it. The ASPI-style transport hands the record unchanged to
// a library loaded at run time (the virtual recorder is one), so the engine and
// every such library include this one header. The layout keeps the classic
// field order; the data-buffer and completion-event fields are pointer-sized
// on a 64-bit build, which moves the fields after them. Numbers are in host
// (little-endian) order.
//
// Contract of SendASPI32Command for an execute request:
// - it returns SrbPending (0) when the command will complete later and then
//   sets `status` and calls completionEvent->set(), or it returns the final
//   status at once (SrbComplete 1, SrbError 4) without touching the event;
// - on return or completion `status`, `targetStatus` and `sense` hold the
//   result; data moves directly to or from `dataBuffer`.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Event.h"

namespace velk {

// Command codes (byte 0) of the request records.
inline constexpr std::uint8_t SrbHostAdapterInquiry = 0;
inline constexpr std::uint8_t SrbExecuteCommand = 2;
inline constexpr std::uint8_t SrbGetDiskInfo = 6;

// Request status values.
inline constexpr std::uint8_t SrbPending = 0;
inline constexpr std::uint8_t SrbComplete = 1;
inline constexpr std::uint8_t SrbError = 4;

// Request flags.
inline constexpr std::uint8_t SrbDataIn = 0x08;
inline constexpr std::uint8_t SrbDataOut = 0x10;
inline constexpr std::uint8_t SrbEventNotify = 0x40;
inline constexpr std::uint8_t SrbFlagsNoData = 0x40;
inline constexpr std::uint8_t SrbFlagsRead = 0x48;
inline constexpr std::uint8_t SrbFlagsWrite = 0x50;

// SCSI status bytes seen in targetStatus.
inline constexpr std::uint8_t ScsiStatusGood = 0x00;
inline constexpr std::uint8_t ScsiStatusCheckCondition = 0x02;
inline constexpr std::uint8_t ScsiStatusBusy = 0x08;

inline constexpr std::size_t ScsiSenseBytes = 32;
inline constexpr std::uint8_t ScsiSenseRequested = 24;

struct ScsiRequestBlock {
    std::uint8_t commandCode;       // 0: SrbExecuteCommand
    std::uint8_t status;            // 1: SrbPending / SrbComplete / SrbError
    std::uint8_t adapter;           // 2
    std::uint8_t flags;             // 3: SrbFlagsNoData / Read / Write
    std::uint32_t reserved0;        // 4
    std::uint8_t target;            // 8
    std::uint8_t lun;               // 9
    std::uint16_t reserved1;        // 10
    std::uint32_t dataLength;       // 12
    std::uint8_t* dataBuffer;       // 16
    std::uint8_t senseLength;       // 24: ScsiSenseRequested
    std::uint8_t cdbLength;         // 25: 6, 10 or 12
    std::uint8_t adapterStatus;     // 26
    std::uint8_t targetStatus;      // 27: SCSI status byte
    std::uint32_t reserved2;        // 28
    platform::Event* completionEvent;  // 32
    std::uint8_t reserved3[24];     // 40
    std::uint8_t cdb[16];           // 64
    std::uint8_t sense[ScsiSenseBytes];  // 80: fixed or descriptor format (device/Sense.h)
};
static_assert(sizeof(void*) == 8, "the request layout is laid out for 64-bit builds");
static_assert(offsetof(ScsiRequestBlock, flags) == 3);
static_assert(offsetof(ScsiRequestBlock, target) == 8);
static_assert(offsetof(ScsiRequestBlock, dataLength) == 12);
static_assert(offsetof(ScsiRequestBlock, dataBuffer) == 16);
static_assert(offsetof(ScsiRequestBlock, senseLength) == 24);
static_assert(offsetof(ScsiRequestBlock, targetStatus) == 27);
static_assert(offsetof(ScsiRequestBlock, completionEvent) == 32);
static_assert(offsetof(ScsiRequestBlock, cdb) == 64);
static_assert(offsetof(ScsiRequestBlock, sense) == 80);
static_assert(sizeof(ScsiRequestBlock) == 112);

// Host adapter inquiry: byte 0 = SrbHostAdapterInquiry, byte 2 = adapter;
// the answer's byte 8 is the number of host adapters.
struct HostAdapterInquiry {
    std::uint8_t bytes[60];
};
static_assert(sizeof(HostAdapterInquiry) == 60);
inline constexpr std::size_t HaInquiryAdapterCountOffset = 8;

// Get disk information: byte 0 = SrbGetDiskInfo, byte 2 = adapter,
// byte 8 = target, byte 9 = LUN; when the call returns SrbComplete, byte 11
// is the drive number and the drive letter is 'A' + that number.
struct GetDiskInfoRequest {
    std::uint8_t bytes[24];
};
static_assert(sizeof(GetDiskInfoRequest) == 24);
inline constexpr std::size_t DiskInfoTargetOffset = 8;
inline constexpr std::size_t DiskInfoLunOffset = 9;
inline constexpr std::size_t DiskInfoDriveNumberOffset = 11;

// Entry points that an ASPI-style library exports with C linkage.
using GetAspiSupportInfoFn = std::uint32_t (*)();
using SendAspiCommandFn = std::uint32_t (*)(void* request);
inline constexpr const char* GetAspiSupportInfoName = "GetASPI32SupportInfo";
inline constexpr const char* SendAspiCommandName = "SendASPI32Command";

}  // namespace velk
