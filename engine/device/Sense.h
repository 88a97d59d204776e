// The sense data a recorder returns with a check condition, in either of its
// two formats: fixed (response code 70h for the command's own error, 71h for
// a deferred one of an earlier command) with the sense key in byte 2 and the
// additional sense code and qualifier in bytes 12 and 13, or descriptor
// (72h, 73h) with key, code and qualifier in bytes 1 to 3 and the
// sense-key-specific field in a descriptor of type 02h. Every reader of
// sense goes through parseSense, so neither format is read by hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velk::device {

inline constexpr std::uint8_t SenseKeyNoSense = 0x0;
inline constexpr std::uint8_t SenseKeyRecoveredError = 0x1;
inline constexpr std::uint8_t SenseKeyNotReady = 0x2;
inline constexpr std::uint8_t SenseKeyUnitAttention = 0x6;

struct SenseData {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    bool descriptor = false;  // 72h / 73h
    bool deferred = false;    // 71h / 73h: the error of an earlier command
    // The progress of a running operation (0..65535), when the
    // sense-key-specific field is valid and the key is NO SENSE or NOT READY.
    std::optional<std::uint16_t> progress;
};

// Reads `length` bytes of sense. Anything but a descriptor-format response
// code is read as fixed format, as drives that leave byte 0 empty mean it;
// fields beyond `length` (or beyond the additional length the drive gave for
// descriptors) read as 0.
[[nodiscard]] SenseData parseSense(const std::uint8_t* bytes, std::size_t length);

// ASC * 256 + ASCQ, the engine's hardware error code of the sense.
[[nodiscard]] inline std::uint16_t errorCodeOf(const SenseData& sense) {
    return static_cast<std::uint16_t>(sense.asc * 256 + sense.ascq);
}

}  // namespace velk::device
