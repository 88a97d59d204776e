#include "engine/device/Sense.h"

#include <algorithm>

#include "engine/device/BigEndian.h"

namespace velk::device {
namespace {

constexpr std::uint8_t SenseKeySpecificDescriptor = 0x02;
constexpr std::uint8_t SenseKeySpecificValid = 0x80;

bool reportsProgress(std::uint8_t key) { return key == SenseKeyNoSense || key == SenseKeyNotReady; }

SenseData parseFixed(const std::uint8_t* bytes, std::size_t length) {
    SenseData sense;
    sense.deferred = (bytes[0] & 0x7F) == 0x71;
    if (length > 2) sense.key = bytes[2] & 0x0F;
    if (length > 12) sense.asc = bytes[12];
    if (length > 13) sense.ascq = bytes[13];
    if (length > 17 && (bytes[15] & SenseKeySpecificValid) && reportsProgress(sense.key)) {
        sense.progress = getBe16(bytes + 16);
    }
    return sense;
}

SenseData parseDescriptors(const std::uint8_t* bytes, std::size_t length) {
    SenseData sense;
    sense.descriptor = true;
    sense.deferred = (bytes[0] & 0x7F) == 0x73;
    if (length > 1) sense.key = bytes[1] & 0x0F;
    if (length > 2) sense.asc = bytes[2];
    if (length > 3) sense.ascq = bytes[3];
    if (length < 8) return sense;
    const std::size_t end = std::min<std::size_t>(length, 8 + std::size_t{bytes[7]});
    for (std::size_t at = 8; at + 2 <= end;) {
        const std::uint8_t type = bytes[at];
        const std::size_t size = 2 + std::size_t{bytes[at + 1]};
        if (at + size > end) break;
        if (type == SenseKeySpecificDescriptor && size >= 7 && (bytes[at + 4] & SenseKeySpecificValid) &&
            reportsProgress(sense.key)) {
            sense.progress = getBe16(bytes + at + 5);
        }
        at += size;
    }
    return sense;
}

}  // namespace

SenseData parseSense(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length == 0) return {};
    const std::uint8_t code = bytes[0] & 0x7F;
    if (code == 0x72 || code == 0x73) return parseDescriptors(bytes, length);
    return parseFixed(bytes, length);
}

}  // namespace velk::device
