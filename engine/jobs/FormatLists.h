// The FORMAT UNIT parameter lists the jobs send (CDB byte 1 = 11h, 12 bytes:
// a 4-byte list header, then one 8-byte format descriptor).
//
// Header byte 1: 80h FOV, 20h DCRT, 02h IMMED; bytes 2-3 the descriptor
// length (8). Descriptor: bytes 0-3 the number of blocks, byte 4 the format
// type << 2, bytes 5-7 the type-dependent parameter.
#pragma once

#include <array>
#include <cstdint>

namespace velk::jobs {

using FormatList = std::array<std::uint8_t, 12>;

// DVD-RW quick format (type 15h) of 1000 blocks, without certification.
inline constexpr FormatList DvdRwQuickFormat{0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
// The same for drives that take no block count.
inline constexpr FormatList DvdRwQuickFormatFallback{0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
// Quick grow of a restricted-overwrite DVD-RW (type 13h).
inline constexpr FormatList DvdRwGrowFormat{0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};
// Full DVD+RW format (type 26h) of 2,295,104 blocks.
inline constexpr FormatList DvdPlusRwFullFormat{0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
// Full DVD-RAM format (type 00h) of 2,236,704 blocks of 2048 bytes.
inline constexpr FormatList DvdRamFullFormat{0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};

}  // namespace velk::jobs
