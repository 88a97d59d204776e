// The trace line of one executed command, as the trace log records it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/device/ScsiRequestBlock.h"
#include "platform/Time.h"

namespace velk::trace {

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
