#include "engine/image/VolumeDescriptors.h"

#include <algorithm>
#include <cstring>

#include "engine/image/DirectoryRecords.h"
#include "engine/image/Endian.h"
#include "engine/image/IsoDates.h"
#include "engine/image/Layout.h"
#include "platform/Text.h"

namespace velk::image {
namespace {

// Copies `text` into a field of `length` bytes and fills the rest with 20h.
void putSpacePadded(std::uint8_t* at, std::size_t length, std::string_view text) {
    std::memset(at, ' ', length);
    std::memcpy(at, text.data(), std::min(length, text.size()));
}

// Writes each unit high byte first into a field of `length` bytes; the rest
// is zero.
void putUcs2Padded(std::uint8_t* at, std::size_t length, std::u16string_view text) {
    std::memset(at, 0, length);
    for (std::size_t i = 0; i < text.size() && 2 * i + 1 < length; ++i) putBe16(at + 2 * i, text[i]);
}

}  // namespace

void writeVolumeDescriptor(const ImageProject& project, VolumeDescriptorKind kind,
                           const platform::SystemTime& now, std::uint8_t* out) {
    const LayoutPlan& plan = project.plan;
    const bool joliet = kind == VolumeDescriptorKind::Joliet;
    const DirectoryTree tree = joliet ? DirectoryTree::Joliet : DirectoryTree::Iso;
    // Texts: space-padded 8-bit ones, or zero-padded UCS-2 ones.
    auto putText = [&](std::uint8_t* at, std::size_t length) {
        if (joliet) {
            std::memset(at, 0, length);
        } else {
            std::memset(at, ' ', length);
        }
    };

    std::memset(out, 0, BlockBytes);
    out[0] = kind == VolumeDescriptorKind::Primary ? 1 : 2;
    std::memcpy(out + 1, "CD001", 5);
    // An enhanced (ISO 9660:1999) descriptor, the long-name one, is version 2.
    out[6] = kind == VolumeDescriptorKind::LongName ? 2 : 1;  // descriptor version
    out[7] = 0;
    putText(out + 8, 32);  // system identifier
    if (joliet) {
        const std::u16string_view label(project.volumeLabelW, platform::u16length(project.volumeLabelW));
        putUcs2Padded(out + 40, 32, platform::cutUtf16(label, 16));
    } else {
        std::string label(project.volumeLabel);
        platform::upperAsciiInPlace(label);
        putSpacePadded(out + 40, 32, label);
    }
    // 72 unused: zero
    putBoth32(out + 80, plan.imageBlocks + plan.startLba);  // volume space size
    // 88 escape sequences: only Joliet has one. The primary descriptor keeps
    // these bytes zero and an enhanced descriptor has none; an escape
    // sequence there makes readers take the 8-bit names for UCS-2.
    if (joliet) std::memcpy(out + 88, project.jolietEscape, 3);
    putBoth16(out + 120, 1);  // volume set size
    putBoth16(out + 124, 1);  // volume sequence number
    putBoth16(out + 128, static_cast<std::uint16_t>(BlockBytes));
    putBoth32(out + 132, joliet ? plan.jolietPathTableBytes : plan.isoPathTableBytes);
    putLe32(out + 140, (joliet ? plan.jolietPathTableL : plan.isoPathTableL) + plan.startLba);
    putLe32(out + 144, 0);  // optional type-L path table
    putBe32(out + 148, (joliet ? plan.jolietPathTableM : plan.isoPathTableM) + plan.startLba);
    putBe32(out + 152, 0);  // optional type-M path table

    writeDirectoryRecord(out + 156, selfDirectoryRecord(project, *project.root, tree));  // root

    putText(out + 190, 128);  // volume set identifier
    if (joliet) {
        putUcs2Padded(out + 318, 128, PublisherLower);
    } else {
        putSpacePadded(out + 318, 128, PublisherUpper);
    }
    putText(out + 446, 128);  // data preparer
    putText(out + 574, 128);  // application
    putText(out + 702, 37);   // copyright file
    putText(out + 739, 37);   // abstract file
    putText(out + 776, 37);   // bibliographic file
    writeDescriptorDate(out + 813, now);  // creation
    writeDescriptorDate(out + 830, now);  // modification
    // 847 expiration, 864 effective: zero
    out[881] = kind == VolumeDescriptorKind::LongName ? 2 : 1;  // file structure version
    out[882] = 0;
    // 883 application use: zero, but for eight spaces at 1024-1031 of the 8-bit forms
    if (!joliet) std::memset(out + 1024, ' ', 8);
    // 1395 reserved: zero
}

void writeTerminator(std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    out[0] = 0xFF;
    std::memcpy(out + 1, "CD001", 5);
    out[6] = 1;
}

}  // namespace velk::image
