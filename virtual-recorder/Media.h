// Media the virtual recorder emulates: each kind with its MMC profile, its
// default capacity in 2048-byte blocks, how it is written (sequential,
// restricted or random overwrite, read-only) and its speeds.
//
// The session overheads are this recorder's model, in the order of what real
// discs spend: on CD a track closed in track-at-once mode keeps 2 run-out
// blocks and the next track in the session starts after a 150-block pre-gap;
// a new session starts after the previous session's lead-out (6,750 blocks
// after the first session, 2,250 after later ones), a 4,500-block lead-in and
// the pre-gap. DVD tracks are padded to whole 16-block ECC blocks; a new DVD-R
// or DVD-RW session starts after a border zone, a new DVD+R session after the
// session's closure and intro zones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velk::vrec {

enum class MediumKind : std::uint8_t {
    CdRom,
    CdR,
    CdRw,
    DvdRom,
    DvdR,
    DvdRam,
    DvdRwRestricted,
    DvdRwSequential,
    DvdPlusRw,
    DvdPlusR,
    DvdPlusRDl,
};

enum class Recording : std::uint8_t {
    ReadOnly,        // pressed media, loaded from an image file
    Sequential,      // tracks and sessions, written at the next writable address
    RandomOverwrite, // formatted area written anywhere
};

struct MediumInfo {
    MediumKind kind;
    const char* name;          // as the disc file and the command line spell it
    const char* description;
    std::uint16_t profile;     // MMC current profile
    Recording recording;
    bool cd;
    bool rewritable;           // erasable bit of the disc information
    bool blankable;            // BLANK applies
    std::uint32_t defaultCapacity;  // blocks; 0 for read-only media (image size)
    std::uint16_t maxWriteX;   // highest write speed in multiples of 1x
    std::uint16_t maxReadX;
};

const MediumInfo& mediumInfo(MediumKind kind);
std::optional<MediumKind> mediumFromName(std::string_view name);
std::optional<MediumKind> mediumFromProfile(std::uint16_t profile);

// Speeds as a drive reports them, in kB/s (1000 bytes): CD 1x = 176.4 kB/s
// (2352-byte frames), DVD 1x = 1385 kB/s.
std::uint32_t speedKbps(bool cd, double times);
// User data rate in bytes per second of a reported speed: a CD moves 2048
// user bytes per 2352-byte frame.
double userBytesPerSecond(bool cd, std::uint32_t kbps);
// Speeds the drive offers for a medium, highest first (multiples of 1x).
const std::uint16_t* supportedWriteSpeeds(bool cd, std::size_t& count);

// Session and track overheads (see the header comment).
inline constexpr std::uint32_t CdRunOutBlocks = 2;
inline constexpr std::uint32_t CdPreGapBlocks = 150;
inline constexpr std::uint32_t CdFirstLeadOutBlocks = 6750;
inline constexpr std::uint32_t CdLaterLeadOutBlocks = 2250;
inline constexpr std::uint32_t CdLeadInBlocks = 4500;
inline constexpr std::uint32_t DvdEccBlocks = 16;
inline constexpr std::uint32_t DvdMinusFirstBorderBlocks = 16384;
inline constexpr std::uint32_t DvdMinusLaterBorderBlocks = 6144;
inline constexpr std::uint32_t DvdPlusSessionGapBlocks = 4096;

// Blocks between the end of a closed session and the first block of the next
// one (CD: includes the pre-gap of its first track).
std::uint32_t sessionGapBlocks(MediumKind kind, std::uint32_t closedSessions);

}  // namespace velk::vrec
