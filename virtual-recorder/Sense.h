// Sense data of the virtual recorder: fixed format (response code 70h),
// sense key in byte 2, additional length 10 (18 bytes in all), ASC in byte 12,
// ASCQ in byte 13, and for operations in progress the sense-key-specific
// progress indication in bytes 15-17.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace velk::vrec {

struct Sense {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    // 0..65535 fraction of a running operation, reported with SKSV set.
    std::optional<std::uint16_t> progress;

    friend bool operator==(const Sense& a, const Sense& b) {
        return a.key == b.key && a.asc == b.asc && a.ascq == b.ascq;
    }
};

inline constexpr std::uint8_t SenseKeyNoSense = 0x0;
inline constexpr std::uint8_t SenseKeyNotReady = 0x2;
inline constexpr std::uint8_t SenseKeyMediumError = 0x3;
inline constexpr std::uint8_t SenseKeyIllegalRequest = 0x5;
inline constexpr std::uint8_t SenseKeyUnitAttention = 0x6;

namespace sense {
inline constexpr Sense NoMedium{SenseKeyNotReady, 0x3A, 0x00, {}};
inline constexpr Sense TrayOpen{SenseKeyNotReady, 0x3A, 0x02, {}};
inline constexpr Sense FormatInProgress{SenseKeyNotReady, 0x04, 0x04, {}};
inline constexpr Sense OperationInProgress{SenseKeyNotReady, 0x04, 0x07, {}};
inline constexpr Sense LongWriteInProgress{SenseKeyNotReady, 0x04, 0x08, {}};
inline constexpr Sense WriteError{SenseKeyMediumError, 0x0C, 0x00, {}};
inline constexpr Sense LossOfStreaming{SenseKeyMediumError, 0x0C, 0x09, {}};
inline constexpr Sense UnrecoveredReadError{SenseKeyMediumError, 0x11, 0x00, {}};
inline constexpr Sense ParameterListLengthError{SenseKeyIllegalRequest, 0x1A, 0x00, {}};
inline constexpr Sense InvalidOpcode{SenseKeyIllegalRequest, 0x20, 0x00, {}};
inline constexpr Sense LbaOutOfRange{SenseKeyIllegalRequest, 0x21, 0x00, {}};
inline constexpr Sense InvalidAddressForWrite{SenseKeyIllegalRequest, 0x21, 0x02, {}};
inline constexpr Sense InvalidFieldInCdb{SenseKeyIllegalRequest, 0x24, 0x00, {}};
inline constexpr Sense InvalidFieldInParameterList{SenseKeyIllegalRequest, 0x26, 0x00, {}};
inline constexpr Sense WriteProtected{SenseKeyIllegalRequest, 0x27, 0x00, {}};
inline constexpr Sense IncompatibleFormat{SenseKeyIllegalRequest, 0x30, 0x05, {}};
inline constexpr Sense CommandSequenceError{SenseKeyIllegalRequest, 0x2C, 0x00, {}};
inline constexpr Sense SavingNotSupported{SenseKeyIllegalRequest, 0x39, 0x00, {}};
inline constexpr Sense RemovalPrevented{SenseKeyIllegalRequest, 0x53, 0x02, {}};
inline constexpr Sense IllegalModeForTrack{SenseKeyIllegalRequest, 0x64, 0x00, {}};
inline constexpr Sense MediumChanged{SenseKeyUnitAttention, 0x28, 0x00, {}};
inline constexpr Sense PowerOnReset{SenseKeyUnitAttention, 0x29, 0x00, {}};
}  // namespace sense

inline constexpr std::size_t FixedSenseBytes = 18;

// Writes fixed-format sense data into `out` (up to `capacity` bytes).
inline void writeFixedSense(const Sense& s, std::uint8_t* out, std::size_t capacity) {
    std::uint8_t bytes[FixedSenseBytes] = {};
    bytes[0] = 0x70;
    bytes[2] = s.key;
    bytes[7] = FixedSenseBytes - 8;
    bytes[12] = s.asc;
    bytes[13] = s.ascq;
    if (s.progress) {
        bytes[15] = 0x80;
        bytes[16] = static_cast<std::uint8_t>(*s.progress >> 8);
        bytes[17] = static_cast<std::uint8_t>(*s.progress);
    }
    for (std::size_t i = 0; i < capacity && i < FixedSenseBytes; ++i) out[i] = bytes[i];
}

// "KK/AA/QQ" in hexadecimal, as the journal and the fault plans write it.
std::string formatSense(const Sense& s);
// Parses "KK/AA/QQ"; nullopt on malformed text.
std::optional<Sense> parseSense(const std::string& text);

}  // namespace velk::vrec
