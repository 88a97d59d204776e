// The command trace log: one process-wide text file, open or closed, that
// records the engine version, the recorder scan and every executed command.
// Lines are buffered and written under a lock of their own, so job threads
// and the caller's thread may trace at the same time.
#pragma once

#include <cstdint>
#include <string>

#include "engine/device/ScsiRequestBlock.h"
#include "platform/Time.h"

namespace velk::trace {

// The engine version as the first line of every log carries it, and the
// GetVersion text (the same characters without "Version : " and the blank).
const char* versionText();

// Closes an open log, opens `path` for writing (truncated) and writes the
// banner. Returns false (and leaves the log closed) when it cannot be opened.
bool open(const std::string& path);
// The log's default place: $XDG_STATE_HOME/velk/velk.elg, or
// ~/.local/state/velk/velk.elg; the folder is created when missing.
std::string defaultPath();
// Returns true when a log was open.
bool close();
bool isOpen();

// printf-style; does nothing when the log is closed.
void write(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The line of one executed command, "\n" included:
//   [---> ADDRESS ]MM:SS:mmm NAME (OP) {FLAGS:CDBLEN} - A:T:L <STATUS> [LENGTH] 
//   CDB bytes 1 to 15 | up to 100 data bytes ASC:ASCQ[, OSERROR]
// The address prefix appears only for a data buffer whose address is not a
// multiple of 4; the OS error only for the pass-through transport.
// `opcodeName` is the padded name-table entry (empty for an unnamed opcode).
std::string formatCommandLine(const ScsiRequestBlock& request, const char* opcodeName,
                              const platform::SystemTime& now, bool passThrough,
                              std::uint32_t lastOsError);
inline constexpr std::size_t TracedDataBytes = 100;

}  // namespace velk::trace
