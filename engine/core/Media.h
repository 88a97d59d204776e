// What each medium is, one row per disc type: its MMC profile, family, how it
// is recorded and written, whether it can be test-written, how its track and
// session are closed, and how it is erased and formatted. The engine's jobs
// and queries, the command line and the application ask this table; none
// keeps a list of disc types of its own, so a new medium is a new row.
//
// The enumerations name what the engine does differently per medium; a
// medium that behaves like an existing one takes that one's values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/EngineTypes.h"

namespace velk {

// Disc families. A Blu-ray family goes beside these once the engine writes
// such media.
enum class MediumFamily : std::uint8_t {
    None,  // no disc, or a profile the table does not know
    Cd,
    Ddcd,  // double-density CD
    Dvd,
};

enum class Recording : std::uint8_t {
    None,
    ReadOnly,
    WriteOnce,
    Rewritable,
};

// Where a write may go.
enum class WriteOrder : std::uint8_t {
    None,        // nothing is written
    Sequential,  // tracks and sessions, each write at the next writable address
    Overwrite,   // one formatted track, written anywhere inside it
    Random,      // defect-managed blocks without tracks or sessions (nothing to close)
};

// The closing sequence the medium takes after its data (jobs/Closing.cpp).
enum class CloseFunctions : std::uint8_t {
    Generic,            // close the incomplete track, then the session
    Cd,                 // cache flushed with IMMED, ready waits, session (or track FFh)
    DvdMinusR,          // the reserved track and the one after it, then the session
    DvdMinusRw,         // track 1, then the session with IMMED
    DvdPlusR,           // the track, then the session or a finalisation
    DvdPlusRDualLayer,  // the same, with session number 0
    DvdPlusRw,          // end of the background format
};

// How the medium's write parameters page is composed (device/WriteParameters.cpp).
enum class WriteMode : std::uint8_t {
    TrackAtOnce,      // the default: track at once, data mode 1
    DdcdSessionAtOnce,
    DvdMinusPacket,   // packet writing with 16-block packets (fixed on write-once media)
    DvdPlus,          // session at once; fixed packets for a multi-session DVD+R
    DvdPlusRDualLayer,
};

enum class EraseMethod : std::uint8_t {
    None,    // not erasable: a request goes to the drive as BLANK, which refuses it
    Blank,   // BLANK (quick or full)
    Format,  // FORMAT UNIT by the medium's format method, with zeros where needed
};

enum class FormatMethod : std::uint8_t {
    None,
    Full,        // DVD-RAM: comes formatted; a full erase formats it again
    Background,  // DVD+RW: full format, finished in the background; a blank disc before a burn
    Quick,       // DVD-RW sequential: a quick format before a burn, which leaves it overwritable
    Grow,        // DVD-RW restricted overwrite: a quick grow before a burn
};

struct Medium {
    DiscType type;
    std::uint16_t profile;  // MMC current profile; 0 for none
    const char* name;       // as the user reads it
    MediumFamily family;
    Recording recording;
    WriteOrder order;
    bool testWrite;  // the drive can simulate a write on it, recording nothing
    CloseFunctions close;
    WriteMode writeMode;
    EraseMethod erase;
    FormatMethod format;

    bool readOnly() const { return recording == Recording::ReadOnly; }
    // Written in place rather than appended: the image's volume descriptors
    // at the disc's start are written again and the volume grows.
    bool overwritable() const { return order == WriteOrder::Overwrite || order == WriteOrder::Random; }
    // Written in place by a burn: overwritable media, and a sequential
    // DVD-RW once the burn's quick format has made it restricted overwrite.
    // A test write formats nothing, so such a disc stays sequential.
    bool writtenInPlace(bool testWrite) const {
        return overwritable() || (format == FormatMethod::Quick && !testWrite);
    }
    // CD and DDCD: a track may end with a short write.
    bool cdLike() const { return family == MediumFamily::Cd || family == MediumFamily::Ddcd; }
};

// The row of `type`; a code the table does not know gets a row named
// "unknown" that can do nothing.
const Medium& mediumOf(int type);

// The disc type of an MMC profile; DiscNone for one the table does not know.
DiscType discTypeOfProfile(std::uint16_t profile);

// Every row, in code order.
struct MediumRows {
    const Medium* first;
    std::size_t count;
    const Medium* begin() const { return first; }
    const Medium* end() const { return first + count; }
};
MediumRows allMedia();

}  // namespace velk
