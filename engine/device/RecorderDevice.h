// The recorder device record: the recorder list, the selected recorder's
// address and transport, recording options, the last command's sense data
// and hardware error code, drive-buffer values, the command data buffer and
// the response areas of the last queries.
//
// One thread drives the device at a time (the caller's thread outside jobs,
// a job thread during one); fields the user interface polls while a job runs
// are atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/core/EngineTypes.h"

namespace velk {

inline constexpr int MaxRecorders = 26;
inline constexpr std::size_t DataBufferBytes = 65536;
inline constexpr std::size_t OpcodeNameWidth = 22;
inline constexpr std::size_t ConfigBufferBytes = 112;
inline constexpr std::size_t TrackInfoBytes = 96;
inline constexpr std::size_t DiscInfoBytes = 66;
inline constexpr std::size_t WriteParametersPageBytes = 72;
inline constexpr std::size_t CapabilitiesPageBytes = 72;

struct DeviceEntry {
    char letter = 0;   // '?' when none was found
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    char name[128] = {};
    char devicePath[64] = {};  // block node of a pass-through drive, e.g. /dev/sr0
};

struct RecorderDevice {
    std::uint8_t adapterId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
    std::uint8_t selectedIndex = 0;
    std::int32_t initialised = 0;
    std::uint8_t deviceCount = 0;
    char driveLetter = 0;
    int deviceHandle = -1;  // open pass-through node, or -1 when closed
    std::int32_t closeAfterCommand = 0;
    char vendorId[9] = {};
    char productId[17] = {};
    std::uint8_t cachedDiscType = 0;
    std::uint8_t lastSense[32] = {};
    std::atomic<std::uint8_t> eraseState{0};
    std::int32_t busy = 0;
    std::int32_t closeDisc = 0;
    std::int32_t eraseMode = 0;
    std::int32_t testWrite = 0;
    std::int32_t performOpc = 0;
    std::int32_t underrunProtection = 0;
    std::uint16_t writeSpeed = 0;
    std::uint16_t readSpeed = 0;
    std::uint16_t maxReadSpeed = 0;
    std::uint16_t currentReadSpeed = 0;
    std::uint16_t maxWriteSpeed = 0;
    std::uint16_t currentWriteSpeed = 0;
    std::atomic<std::uint16_t> lastErrorCode{0};
    std::int32_t suppressErrorCode = 0;
    std::uint32_t lastOsError = 0;
    char errorText[256] = {};
    char16_t errorTextW[256] = {};
    std::atomic<std::uint32_t> bufferLength{0};
    std::atomic<std::uint32_t> bufferBlank{0};
    CompletionCallback eraseCallback = nullptr;
    alignas(16) std::uint8_t dataBuffer[DataBufferBytes] = {};
    char opcodeNames[255][30] = {};
    std::uint8_t diskInfoRequest[24] = {};
    void* sendAspiCommand = nullptr;
    std::int32_t sptiMode = 0;
    std::uint32_t forceAspi = 0;
    void* eraseContext = nullptr;
    void* burnContext = nullptr;
    DeviceEntry entries[MaxRecorders] = {};
    std::int32_t capabilityFlags[17] = {};
    std::uint8_t scsiAddress[8] = {};
    std::uint8_t capabilitiesPage[CapabilitiesPageBytes] = {};
    std::uint16_t defaultMaxReadSpeed = 0;
    std::uint16_t defaultMaxWriteSpeed = 0;
    std::uint8_t writeParametersPage[WriteParametersPageBytes] = {};
    std::mutex callbackLock;

    // Response areas of the last queries (GET CONFIGURATION, READ TRACK
    // INFORMATION with its fields in host order, READ DISC INFORMATION).
    std::uint8_t configBuffer[ConfigBufferBytes] = {};
    std::uint8_t trackInfo[TrackInfoBytes] = {};
    std::uint8_t discInfo[DiscInfoBytes] = {};
    // Data bytes the last command moved: what the pass-through driver
    // reports, or the data length when the transport cannot tell. Response
    // parsers never read past it.
    std::uint32_t lastTransferred = 0;
    // The last command never reached the drive (a host adapter or driver
    // failure, with no sense data). The last such failure's host adapter
    // status and system error stay for its message (0 when none told).
    std::int32_t lastTransportFailure = 0;
    std::uint8_t transportHostStatus = 0;
    std::uint32_t transportOsError = 0;
    // The code (ASC * 256 + ASCQ) of the last deferred error a command was
    // answered with since the recorder was claimed: data of an earlier
    // command that the drive could not record. 0 when none.
    std::uint16_t deferredErrorCode = 0;
    // Where discovery looks for optical drives; empty means /sys and /dev.
    char sysfsRoot[128] = {};
    char devRoot[128] = {};
    // The ASPI-style library that Initialise loaded (never unloaded).
    void* aspiLibrary = nullptr;

    // Simulated seconds per real second of the recorder: the jobs divide
    // their recorder polls (ready waits, retry pauses) by it, so a software
    // recorder that runs its clock faster is polled as often in its own
    // time. 1 for a real drive.
    double pollTimeScale = 1.0;
    // The job that holds this recorder (see jobs/JobClaim.h); 0 when none.
    std::atomic<std::int32_t> jobActive{0};
    // Asks a running erase to stop between its writes (the engine goes).
    std::atomic<std::int32_t> eraseStop{0};
};

// While alive, commands may fail without their sense becoming the device's
// hardware error code: a probe whose refusal is an answer, a read whose
// failure is no error of the caller's. The code is put back as it was when
// the guard was set, unless letStand() said that what failed since is the
// error to report after all.
class LastErrorCodeKept {
public:
    explicit LastErrorCodeKept(RecorderDevice& device) : device_(device), kept_(device.lastErrorCode.load()) {}
    ~LastErrorCodeKept() {
        if (restore_) device_.lastErrorCode = kept_;
    }
    LastErrorCodeKept(const LastErrorCodeKept&) = delete;
    LastErrorCodeKept& operator=(const LastErrorCodeKept&) = delete;

    void letStand() { restore_ = false; }

private:
    RecorderDevice& device_;
    std::uint16_t kept_;
    bool restore_ = true;
};

// Creation: a zero-filled record with a closed handle and the opcode names.
RecorderDevice* createDevice();
// Destruction: closes the trace log and the open handle, frees the record.
void destroyDevice(RecorderDevice* device);

// The opcode names of the trace, each padded with spaces to 22 characters;
// opcodes without a name are empty.
void fillOpcodeNames(RecorderDevice& device);

}  // namespace velk
