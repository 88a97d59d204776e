// Byte-order helpers for on-disc records.
//
// ISO 9660 (ECMA-119) numbers are little-endian (type L path tables),
// big-endian (type M path tables) or "both-byte orders": the little-endian
// value followed at once by the big-endian one. UDF (ECMA-167) numbers are
// little-endian. Every record writer goes through these helpers, so no call
// site shifts bits itself. The readers are for tests and for the session
// import; readBoth* report whether the two halves agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velk::image {

inline void putLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putBe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

inline void putLe32(std::uint8_t* at, std::uint32_t value) {
    putLe16(at, static_cast<std::uint16_t>(value));
    putLe16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void putBe32(std::uint8_t* at, std::uint32_t value) {
    putBe16(at, static_cast<std::uint16_t>(value >> 16));
    putBe16(at + 2, static_cast<std::uint16_t>(value));
}

inline void putLe64(std::uint8_t* at, std::uint64_t value) {
    putLe32(at, static_cast<std::uint32_t>(value));
    putLe32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

// Both-byte orders: 2 + 2 bytes.
inline void putBoth16(std::uint8_t* at, std::uint16_t value) {
    putLe16(at, value);
    putBe16(at + 2, value);
}

// Both-byte orders: 4 + 4 bytes.
inline void putBoth32(std::uint8_t* at, std::uint32_t value) {
    putLe32(at, value);
    putBe32(at + 4, value);
}

inline std::uint16_t getLe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint16_t getBe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t getLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(getLe16(at)) |
           (static_cast<std::uint32_t>(getLe16(at + 2)) << 16);
}

inline std::uint32_t getBe32(const std::uint8_t* at) {
    return (static_cast<std::uint32_t>(getBe16(at)) << 16) | getBe16(at + 2);
}

inline std::uint64_t getLe64(const std::uint8_t* at) {
    return static_cast<std::uint64_t>(getLe32(at)) |
           (static_cast<std::uint64_t>(getLe32(at + 4)) << 32);
}

// nullopt when the little- and big-endian halves disagree.
inline std::optional<std::uint16_t> readBoth16(const std::uint8_t* at) {
    std::uint16_t le = getLe16(at);
    if (le != getBe16(at + 2)) return std::nullopt;
    return le;
}

inline std::optional<std::uint32_t> readBoth32(const std::uint8_t* at) {
    std::uint32_t le = getLe32(at);
    if (le != getBe32(at + 4)) return std::nullopt;
    return le;
}

}  // namespace velk::image
