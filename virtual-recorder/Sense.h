// Sense data of the virtual recorder: fixed format (response code 70h, 71h
// for a deferred error), sense key in byte 2, additional length 10 (18 bytes
// in all), ASC in byte 12, ASCQ in byte 13, and for operations in progress
// the sense-key-specific progress indication in bytes 15-17. With the
// `sense-descriptor` rule the drive answers in descriptor format instead
// (72h, 73h deferred): key, ASC and ASCQ in bytes 1-3, and the progress in a
// sense-key-specific descriptor (type 02h) after the 8-byte header.
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
inline constexpr std::uint8_t SenseKeyRecoveredError = 0x1;
inline constexpr std::uint8_t SenseKeyNotReady = 0x2;
inline constexpr std::uint8_t SenseKeyMediumError = 0x3;
inline constexpr std::uint8_t SenseKeyIllegalRequest = 0x5;
inline constexpr std::uint8_t SenseKeyUnitAttention = 0x6;

namespace sense {
inline constexpr Sense NoMedium{SenseKeyNotReady, 0x3A, 0x00, {}};
inline constexpr Sense TrayOpen{SenseKeyNotReady, 0x3A, 0x02, {}};
inline constexpr Sense RecoveredWithRetries{SenseKeyRecoveredError, 0x17, 0x01, {}};
inline constexpr Sense BecomingReady{SenseKeyNotReady, 0x04, 0x01, {}};
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
inline constexpr std::size_t DescriptorSenseBytes = 16;  // header and one progress descriptor

// Writes fixed-format sense data into `out` (up to `capacity` bytes).
inline void writeFixedSense(const Sense& s, std::uint8_t* out, std::size_t capacity, bool deferred = false) {
    std::uint8_t bytes[FixedSenseBytes] = {};
    bytes[0] = deferred ? 0x71 : 0x70;
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

// Writes descriptor-format sense data into `out` (up to `capacity` bytes):
// the header alone, or with the progress descriptor of a running operation.
inline void writeDescriptorSense(const Sense& s, std::uint8_t* out, std::size_t capacity, bool deferred = false) {
    std::uint8_t bytes[DescriptorSenseBytes] = {};
    bytes[0] = deferred ? 0x73 : 0x72;
    bytes[1] = s.key;
    bytes[2] = s.asc;
    bytes[3] = s.ascq;
    std::size_t length = 8;
    if (s.progress) {
        bytes[8] = 0x02;  // sense key specific
        bytes[9] = 0x06;
        bytes[12] = 0x80;
        bytes[13] = static_cast<std::uint8_t>(*s.progress >> 8);
        bytes[14] = static_cast<std::uint8_t>(*s.progress);
        length = DescriptorSenseBytes;
    }
    bytes[7] = static_cast<std::uint8_t>(length - 8);
    for (std::size_t i = 0; i < capacity && i < length; ++i) out[i] = bytes[i];
}

// Sense in the format the drive answers in now.
inline void writeSense(const Sense& s, bool descriptor, std::uint8_t* out, std::size_t capacity,
                       bool deferred = false) {
    if (descriptor) {
        writeDescriptorSense(s, out, capacity, deferred);
    } else {
        writeFixedSense(s, out, capacity, deferred);
    }
}

// "KK/AA/QQ" in hexadecimal, as the journal and the fault plans write it.
std::string formatSense(const Sense& s);
// Parses "KK/AA/QQ"; nullopt on malformed text.
std::optional<Sense> parseSense(const std::string& text);

}  // namespace velk::vrec
