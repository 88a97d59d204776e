// The MMC commands of the virtual recorder: the command table at the end of
// this file, the one place where an opcode meets its handler, and the
// commands of unit control. The other handlers are in the files that
// CommandHandlers.h lists.
#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/CommandHandlers.h"

namespace velk::vrec {

namespace handlers {
namespace {

// ---- unit control ----------------------------------------------------------

Result testUnitReady(CommandContext&) { return std::nullopt; }

Result rezeroUnit(CommandContext&) { return std::nullopt; }

Result requestSense(CommandContext& c) {
    Sense s{};
    if (auto running = c.st.pending.check(c.st.clock)) {
        s = *running;
    } else if (c.st.lastSense) {
        s = *c.st.lastSense;
    }
    c.st.lastSense.reset();
    Bytes out(FixedSenseBytes);
    writeFixedSense(s, out.data(), out.size());
    c.respond(out, c.cdb[4]);
    return std::nullopt;
}

Result startStopUnit(CommandContext& c) {
    const bool loadEject = (c.cdb[4] & 0x02) != 0;
    const bool start = (c.cdb[4] & 0x01) != 0;
    if (!loadEject) return std::nullopt;
    auto& st = c.st;
    st.endRecording();
    if (!start) {
        if (st.removalPrevented) return sense::RemovalPrevented;
        st.setTrayOpen(true);
        st.pending.cancel();
        st.buffer.clear();
        return std::nullopt;
    }
    if (st.trayOpen) {
        st.setTrayOpen(false);
        if (st.disc && st.faults.takeUnitAttentionOnLoad()) st.unitAttention = sense::MediumChanged;
    }
    return std::nullopt;
}

Result preventAllow(CommandContext& c) {
    c.st.removalPrevented = (c.cdb[4] & 0x01) != 0;
    return std::nullopt;
}

}  // namespace
}  // namespace handlers

namespace {

using namespace handlers;

// The command table: opcode, name, data direction, needs a medium, answered
// during an Immed operation, answered despite a pending unit attention,
// handler.
constexpr CommandSpec kCommands[] = {
    {0x00, "TEST UNIT READY", Transfer::None, true, false, false, testUnitReady},
    {0x01, "REZERO UNIT", Transfer::None, true, false, false, rezeroUnit},
    {0x03, "REQUEST SENSE", Transfer::In, false, true, true, requestSense},
    {0x04, "FORMAT UNIT", Transfer::Out, true, false, false, formatUnit},
    {0x12, "INQUIRY", Transfer::In, false, true, true, inquiry},
    {0x1B, "START STOP UNIT", Transfer::None, false, false, false, startStopUnit},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL", Transfer::None, false, true, false, preventAllow},
    {0x23, "READ FORMAT CAPACITIES", Transfer::In, true, false, false, readFormatCapacities},
    {0x28, "READ (10)", Transfer::In, true, false, false, read10},
    {0x2A, "WRITE (10)", Transfer::Out, true, false, false, write10},
    {0x35, "SYNCHRONIZE CACHE", Transfer::None, true, false, false, synchronizeCache},
    {0x43, "READ TOC/PMA/ATIP", Transfer::In, true, false, false, readTocPmaAtip},
    {0x46, "GET CONFIGURATION", Transfer::In, false, true, true, getConfiguration},
    {0x51, "READ DISC INFORMATION", Transfer::In, true, false, false, readDiscInformation},
    {0x52, "READ TRACK INFORMATION", Transfer::In, true, false, false, readTrackInformation},
    {0x53, "RESERVE TRACK", Transfer::None, true, false, false, reserveTrack},
    {0x54, "SEND OPC INFORMATION", Transfer::None, true, false, false, sendOpcInformation},
    {0x55, "MODE SELECT (10)", Transfer::Out, false, true, false, modeSelect},
    {0x5A, "MODE SENSE (10)", Transfer::In, false, true, false, modeSense},
    {0x5B, "CLOSE TRACK/SESSION", Transfer::None, true, false, false, closeTrackSession},
    {0x5C, "READ BUFFER CAPACITY", Transfer::In, false, true, false, readBufferCapacity},
    {0x5D, "SEND CUE SHEET", Transfer::Out, true, false, false, sendCueSheet},
    {0xA1, "BLANK", Transfer::None, true, false, false, blank},
    {0xAC, "GET PERFORMANCE", Transfer::In, true, true, false, getPerformance},
    {0xB6, "SET STREAMING", Transfer::Out, false, true, false, setStreaming},
    {0xBB, "SET CD SPEED", Transfer::None, false, true, false, setCdSpeed},
    {0xBF, "SEND DVD STRUCTURE", Transfer::Out, true, false, false, sendDvdStructure},
};

}  // namespace

const CommandSpec* findCommand(std::uint8_t opcode) {
    for (const auto& spec : kCommands) {
        if (spec.opcode == opcode) return &spec;
    }
    return nullptr;
}

}  // namespace velk::vrec
