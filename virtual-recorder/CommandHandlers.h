// Internal: what the MMC command handlers of the virtual recorder share.
// Each handler returns nothing for GOOD status or the sense of its CHECK
// CONDITION; the dispatcher (VirtualRecorder.cpp) has already answered
// faults, unit attentions, operations in progress and a missing medium for
// the commands that need one. The handlers live by concern:
//   MmcCommands.cpp            the command table; unit control (TEST UNIT
//                              READY, REQUEST SENSE, START STOP UNIT, ...)
//   ConfigurationCommands.cpp  INQUIRY, GET CONFIGURATION features, MODE
//                              SENSE/SELECT pages, speeds and performance
//   ReadWriteCommands.cpp      READ/WRITE (10), the write parameters a WRITE
//                              is checked against, the drive buffer,
//                              SYNCHRONIZE CACHE
//   RecordingCommands.cpp      disc, track and TOC information, format
//                              capacities, RESERVE TRACK, CLOSE TRACK/SESSION,
//                              BLANK, FORMAT UNIT and the preparation of a
//                              recording (OPC, cue sheet, DVD structure)
// What a command does to the medium is an operation of DiscLayout; how long
// it takes is in DriveTiming.h.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "virtual-recorder/RecorderState.h"

namespace velk::vrec::handlers {

using Bytes = std::vector<std::uint8_t>;
using Result = std::optional<Sense>;
inline constexpr std::uint32_t kBlock = 2048;

// A response of `size` zero bytes with room to grow: responses are built by
// appending, and reserving up front also keeps g++ 12's -Warray-bounds
// false positive on vector growth at -O3 away.
inline Bytes response(std::size_t size) {
    Bytes out;
    out.reserve(512);
    out.resize(size, 0);
    return out;
}

inline DiscLayout& layoutOf(CommandContext& c) { return c.st.disc->layout(); }

// Runs a long operation: with Immed the drive is not ready until it ends,
// without it the command takes that long.
inline void runLong(CommandContext& c, bool immed, double seconds, const Sense& whileRunning) {
    if (immed) {
        c.st.pending.start(c.st.clock, seconds, whileRunning);
    } else {
        c.st.clock.sleepFor(seconds);
    }
}

inline Result saveOrFail(CommandContext& c) {
    return c.st.disc->save() ? Result{} : Result{sense::WriteError};
}

// ConfigurationCommands.cpp
Result inquiry(CommandContext& c);
Result getConfiguration(CommandContext& c);
Result modeSense(CommandContext& c);
Result modeSelect(CommandContext& c);
Result setCdSpeed(CommandContext& c);
Result setStreaming(CommandContext& c);
Result getPerformance(CommandContext& c);

// ReadWriteCommands.cpp
Result read10(CommandContext& c);
Result write10(CommandContext& c);
Result readBufferCapacity(CommandContext& c);
Result synchronizeCache(CommandContext& c);

// RecordingCommands.cpp
Result readDiscInformation(CommandContext& c);
Result readTrackInformation(CommandContext& c);
Result readTocPmaAtip(CommandContext& c);
Result readFormatCapacities(CommandContext& c);
Result reserveTrack(CommandContext& c);
Result closeTrackSession(CommandContext& c);
Result blank(CommandContext& c);
Result formatUnit(CommandContext& c);
Result sendOpcInformation(CommandContext& c);
Result sendCueSheet(CommandContext& c);
Result sendDvdStructure(CommandContext& c);

}  // namespace velk::vrec::handlers
