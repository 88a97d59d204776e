// Internal: the state of one virtual recorder shared by the dispatcher
// (VirtualRecorder.cpp) and the command handlers (CommandHandlers.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/DriveTiming.h"
#include "virtual-recorder/FaultInjector.h"
#include "virtual-recorder/Journal.h"
#include "virtual-recorder/VirtualRecorder.h"

namespace velk::vrec {

// Mode page 05h (write parameters) as the drive holds it, 52 bytes.
inline constexpr std::size_t WritePageBytes = 52;

struct VirtualRecorder::State {
    explicit State(RecorderOptions opts);

    RecorderOptions options;
    SimClock clock;
    DriveBuffer buffer;
    PendingOperation pending;
    FaultInjector faults;
    Journal journal;

    std::unique_ptr<DiscStore> disc;
    bool trayOpen = false;
    bool removalPrevented = false;
    bool cueSheetSent = false;
    // A test write runs on a copy of the layout: the drive keeps its own
    // next writable addresses and closes tracks and sessions in the copy,
    // while the disc stays as it was. The copy goes with the next load or
    // eject, a change of medium, blanking, formatting, a reset, or a MODE
    // SELECT that clears the test write bit.
    std::optional<DiscLayout> simulated;
    // A track is being written: WRITEs follow each other, and the buffer
    // running empty before the next one is an underrun. SYNCHRONIZE CACHE and
    // the closing commands end it, so their drain is none.
    bool streaming = false;
    std::optional<Sense> unitAttention;
    std::optional<Sense> lastSense;  // for REQUEST SENSE
    std::array<std::uint8_t, WritePageBytes> writePage{};
    std::uint32_t requestedReadKbps = 0xFFFF;
    std::uint32_t requestedWriteKbps = 0xFFFF;

    bool mediumPresent() const { return disc != nullptr && !trayOpen; }
    // Opens or closes the tray; the disc file keeps the state, so that the
    // next program that loads it finds the tray as this one left it.
    void setTrayOpen(bool open);
    // Whether WRITEs are test writes now: the test write bit is set and the
    // medium records tracks with a simulation mode (CD-R/RW, DVD-R, DVD-RW
    // sequential; DVD+R media and overwritable media ignore the page).
    bool testWriting() const;
    // The layout that WRITE, RESERVE TRACK and CLOSE TRACK/SESSION change:
    // the test write copy while testWriting(), else the disc's own.
    DiscLayout& recordingLayout();
    // Forgets the test write copy and any track in progress.
    void endRecording();
    bool cdMedium() const { return disc == nullptr || disc->layout().info().cd; }
    // Speeds the drive uses now for the loaded medium (kB/s).
    std::uint32_t maxWriteKbps() const;
    std::uint32_t maxReadKbps() const;
    std::uint32_t currentWriteKbps() const;
    std::uint32_t currentReadKbps() const;
    // Applies the current write speed to the drive buffer.
    void updateDrainRate();
    // Simulated seconds to write `blocks` at the current write speed.
    double secondsFor(std::uint64_t blocks) const;
};

// One command as the handlers see it.
struct CommandContext {
    VirtualRecorder::State& st;
    const std::uint8_t* cdb;
    std::uint8_t* data;
    std::uint32_t dataLength;
    std::uint8_t flags;

    // Copies a response into the data buffer, cut to the allocation length
    // and the buffer.
    void respond(const std::vector<std::uint8_t>& bytes, std::uint32_t allocation) const;
};

using CommandHandler = std::optional<Sense> (*)(CommandContext&);

// Which way a command moves data.
enum class Transfer : std::uint8_t { None, In, Out };

struct CommandSpec {
    std::uint8_t opcode;
    const char* name;
    Transfer transfer;
    bool needsMedium;       // NOT READY without a disc
    bool runsWhileBusy;     // answered during an Immed operation
    bool skipsUnitAttention;
    CommandHandler handler;
};

// The command table (MmcCommands.cpp): the one place where each opcode is
// handled. nullptr for an opcode the recorder does not know.
const CommandSpec* findCommand(std::uint8_t opcode);

}  // namespace velk::vrec
