// Building blocks shared by every UDF 1.50 descriptor (ECMA-167 3rd part,
// 1/7 and 3/7.2): the 16-byte descriptor tag with its checksum and CRC, the
// 12-byte timestamp, the CS0 character set, entity identifiers, compressed
// Unicode and d-strings. All UDF numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Time.h"

namespace velk::image {

// Fixed physical blocks of the bridge structures (relative to the image).
inline constexpr std::uint32_t UdfMainVdsBlock = 32;
inline constexpr std::uint32_t UdfReserveVdsBlock = 48;
inline constexpr std::uint32_t UdfIntegrityBlock = 64;
inline constexpr std::uint32_t UdfAnchorBlock = 256;
inline constexpr std::uint32_t UdfPartitionStart = 257;
inline constexpr std::uint32_t UdfFileSetBlock = 257;

// Tag identifiers.
enum UdfTagId : std::uint16_t {
    TagPrimaryVolume = 1,
    TagAnchor = 2,
    TagImplementationUse = 4,
    TagPartition = 5,
    TagLogicalVolume = 6,
    TagUnallocatedSpace = 7,
    TagTerminating = 8,
    TagIntegrity = 9,
    TagFileSet = 256,
    TagFileIdentifier = 257,
    TagFileEntry = 261,
};

// CRC-ITU-T: polynomial x^16 + x^12 + x^5 + 1, initial value 0, most
// significant bit first, no final inversion.
std::uint16_t udfCrc(const std::uint8_t* bytes, std::size_t length);

// Fills bytes 0-15 of a descriptor whose body (from byte 16) is complete:
// identifier, version 2, serial number 1, CRC over `crcLength` bytes after
// the tag, location; the checksum last.
void writeDescriptorTag(std::uint8_t* descriptor, std::uint16_t tagId, std::uint32_t location,
                        std::uint16_t crcLength);

// Sum modulo 256 of bytes 0-3 and 5-15 of a tag.
std::uint8_t tagChecksum(const std::uint8_t* tag);

// 12 bytes: type 1 (local time) with the time's offset from UTC in minutes
// as a 12-bit two's complement number (1000h for UTC), year, month, day,
// hour, minute, second, and three sub-second bytes of 0.
void writeTimestamp(std::uint8_t* at, const platform::SystemTime& time,
                    std::int16_t utcOffsetMinutes = 0);

// 64 bytes: CS0, "OSTA Compressed Unicode".
void writeCharSpec(std::uint8_t* at);

// 32 bytes: flags 0, identifier (at most 23 bytes), suffix bytes from 24.
void writeEntityId(std::uint8_t* at, std::string_view identifier, std::uint8_t suffix0 = 0,
                   std::uint8_t suffix1 = 0, std::uint8_t suffix2 = 0);

inline constexpr std::string_view UdfImplementationId = "*Skelmordane TorbeUDF";
inline constexpr std::uint8_t UdfOsClass = 0x06;
// The identifier every descriptor carries as its implementation.
void writeImplementationId(std::uint8_t* at);
// "*OSTA UDF Compliant", revision 1.50, with the given domain flags.
void writeDomainId(std::uint8_t* at, std::uint8_t domainFlags);

// Compressed Unicode with compression identifier 16: the identifier byte,
// then each UTF-16 unit high byte first. Writes 1 + 2 * units bytes; an
// empty text writes nothing (an empty string carries no identifier byte).
std::size_t writeCompressedUnicode(std::uint8_t* at, std::u16string_view text);

// A d-string field of `fieldBytes`: the string from the first byte, its
// byte length in the last byte, zeros between.
void writeDString(std::uint8_t* at, std::size_t fieldBytes, const std::uint8_t* string,
                  std::size_t stringBytes);

}  // namespace velk::image
