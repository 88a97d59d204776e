// Big-endian field helpers for CDBs and MMC responses. Every multi-byte
// field the recorder reads from a CDB or writes into a response goes through
// these, so no call site shifts bytes by hand.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk::vrec {

inline void putBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void putBe24(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 16);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v);
}
inline void putBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
inline std::uint32_t getBe16(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 8) | p[1];
}
inline std::uint32_t getBe24(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
}
inline std::uint32_t getBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
           (std::uint32_t{p[2]} << 8) | p[3];
}

// CD addressing: logical block address to minutes/seconds/frames, with the
// 150-frame (2 s) offset of block 0.
struct Msf {
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    std::uint8_t frame = 0;
};
inline Msf lbaToMsf(std::int64_t lba) {
    const std::int64_t frames = lba + 150;
    Msf m;
    m.minute = static_cast<std::uint8_t>(frames / (60 * 75));
    m.second = static_cast<std::uint8_t>((frames / 75) % 60);
    m.frame = static_cast<std::uint8_t>(frames % 75);
    return m;
}
inline std::int64_t msfToLba(Msf m) {
    return (std::int64_t{m.minute} * 60 + m.second) * 75 + m.frame - 150;
}

}  // namespace velk::vrec
