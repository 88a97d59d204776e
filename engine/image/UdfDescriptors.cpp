#include "engine/image/UdfDescriptors.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/image/Endian.h"

namespace velk::image {
namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1;
        }
        table[i] = static_cast<std::uint16_t>(value);
    }
    return table;
}

constexpr auto CrcTable = makeCrcTable();

}  // namespace

std::uint16_t udfCrc(const std::uint8_t* bytes, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ CrcTable[((crc >> 8) ^ bytes[i]) & 0xFF]);
    }
    return crc;
}

std::uint8_t tagChecksum(const std::uint8_t* tag) {
    unsigned sum = 0;
    for (int i = 0; i < 16; ++i) {
        if (i != 4) sum += tag[i];
    }
    return static_cast<std::uint8_t>(sum);
}

void writeDescriptorTag(std::uint8_t* descriptor, std::uint16_t tagId, std::uint32_t location,
                        std::uint16_t crcLength) {
    putLe16(descriptor + 0, tagId);
    putLe16(descriptor + 2, 2);  // descriptor version
    descriptor[4] = 0;           // checksum, below
    descriptor[5] = 0;
    putLe16(descriptor + 6, 1);  // serial number
    putLe16(descriptor + 8, udfCrc(descriptor + 16, crcLength));
    putLe16(descriptor + 10, crcLength);
    putLe32(descriptor + 12, location);
    descriptor[4] = tagChecksum(descriptor);
}

void writeTimestamp(std::uint8_t* at, const platform::SystemTime& time,
                    std::int16_t utcOffsetMinutes) {
    const auto zone = static_cast<std::uint16_t>(static_cast<std::uint16_t>(utcOffsetMinutes) & 0x0FFF);
    putLe16(at + 0, static_cast<std::uint16_t>(0x1000 | zone));
    putLe16(at + 2, time.year);
    at[4] = static_cast<std::uint8_t>(time.month);
    at[5] = static_cast<std::uint8_t>(time.day);
    at[6] = static_cast<std::uint8_t>(time.hour);
    at[7] = static_cast<std::uint8_t>(time.minute);
    at[8] = static_cast<std::uint8_t>(time.second);
    at[9] = 0;
    at[10] = 0;
    at[11] = 0;
}

void writeCharSpec(std::uint8_t* at) {
    static constexpr char Name[] = "OSTA Compressed Unicode";
    std::memset(at, 0, 64);
    at[0] = 0;
    std::memcpy(at + 1, Name, sizeof Name - 1);
}

void writeEntityId(std::uint8_t* at, std::string_view identifier, std::uint8_t suffix0,
                   std::uint8_t suffix1, std::uint8_t suffix2) {
    std::memset(at, 0, 32);
    at[0] = 0;
    std::memcpy(at + 1, identifier.data(), std::min<std::size_t>(identifier.size(), 23));
    at[24] = suffix0;
    at[25] = suffix1;
    at[26] = suffix2;
}

void writeImplementationId(std::uint8_t* at) {
    writeEntityId(at, UdfImplementationId, UdfOsClass);
}

void writeDomainId(std::uint8_t* at, std::uint8_t domainFlags) {
    writeEntityId(at, "*OSTA UDF Compliant", 0x50, 0x01, domainFlags);
}

std::size_t writeCompressedUnicode(std::uint8_t* at, std::u16string_view text) {
    if (text.empty()) return 0;
    at[0] = 16;
    for (std::size_t i = 0; i < text.size(); ++i) putBe16(at + 1 + 2 * i, text[i]);
    return 1 + 2 * text.size();
}

void writeDString(std::uint8_t* at, std::size_t fieldBytes, const std::uint8_t* string,
                  std::size_t stringBytes) {
    std::memset(at, 0, fieldBytes);
    if (stringBytes > fieldBytes - 1) stringBytes = fieldBytes - 1;
    if (stringBytes) std::memcpy(at, string, stringBytes);
    at[fieldBytes - 1] = static_cast<std::uint8_t>(stringBytes);
}

}  // namespace velk::image
