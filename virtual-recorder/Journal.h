// The journal of every command a virtual recorder received, in order: the
// CDB, the data length and direction, the final SCSI status and the sense, and
// a copy of the parameter list of data-out commands other than WRITE (10).
// Tests read it to assert the command sequence of a job.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "virtual-recorder/Sense.h"

namespace velk::vrec {

struct JournalEntry {
    std::vector<std::uint8_t> cdb;
    std::uint32_t dataLength = 0;
    std::uint8_t flags = 0;          // request flags (direction)
    std::uint8_t status = 0;         // SCSI status byte
    Sense sense;                     // key 0 when the command succeeded
    std::vector<std::uint8_t> parameters;  // data-out bytes, except WRITE data
    double seconds = 0.0;            // the drive's simulated clock when it answered

    std::uint8_t opcode() const { return cdb.empty() ? 0 : cdb[0]; }
    bool good() const { return status == 0; }
};

// One line: "2A 00 00 00 00 10 00 00 20 00 | out 65536 | 02 05/21/02". A
// MODE SELECT also shows its parameter list, so that the page a job set can
// be read in a journal file: "55 10 ... | out 60 : 00 3A ... | 00".
std::string formatJournalEntry(const JournalEntry& e);

class Journal {
public:
    void add(JournalEntry entry);
    std::vector<JournalEntry> entries() const;
    // The entries from index `first` on: a reader that follows the journal
    // copies only what is new.
    std::vector<JournalEntry> entriesFrom(std::size_t first) const;
    // Opcodes of every entry, in order.
    std::vector<std::uint8_t> opcodes() const;
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::vector<JournalEntry> entries_;
};

}  // namespace velk::vrec
