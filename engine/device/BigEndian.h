// Big-endian fields of MMC command blocks, parameter lists and responses.
#pragma once

#include <cstdint>

namespace velk::device {

inline void putBe16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
inline void putBe24(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 16);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value);
}
inline void putBe32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}
inline std::uint16_t getBe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}
inline std::uint32_t getBe24(const std::uint8_t* at) {
    return (static_cast<std::uint32_t>(at[0]) << 16) | (static_cast<std::uint32_t>(at[1]) << 8) | at[2];
}
inline std::uint32_t getBe32(const std::uint8_t* at) {
    return (static_cast<std::uint32_t>(at[0]) << 24) | (static_cast<std::uint32_t>(at[1]) << 16) |
           (static_cast<std::uint32_t>(at[2]) << 8) | at[3];
}
// A 16-bit / 32-bit big-endian field rewritten in host order in place (the
// response areas keep converted values where the callers read them).
inline void be16ToHostInPlace(std::uint8_t* at) {
    std::uint16_t value = getBe16(at);
    __builtin_memcpy(at, &value, sizeof value);
}
inline void be32ToHostInPlace(std::uint8_t* at) {
    std::uint32_t value = getBe32(at);
    __builtin_memcpy(at, &value, sizeof value);
}
inline std::uint16_t getHost16(const std::uint8_t* at) {
    std::uint16_t value;
    __builtin_memcpy(&value, at, sizeof value);
    return value;
}
inline std::uint32_t getHost32(const std::uint8_t* at) {
    std::uint32_t value;
    __builtin_memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace velk::device
