// ECMA-119 volume descriptors (8.4, 8.5, 8.3): the primary descriptor, the
// enhanced volume descriptor of the long-name mode (ISO 9660:1999: type 2,
// descriptor and file structure version 2, 8-bit names, no escape
// sequences), the Joliet supplementary descriptor (UCS-2 level 3 escape
// sequence, UCS-2 big-endian texts) and the set terminator. Numbers are
// both-byte order except the path-table locations (type L little-endian,
// type M big-endian). Every block address is the planned block + startLba.
// The El Torito boot record is in ElTorito.h.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"
#include "platform/Time.h"

namespace velk::image {

enum class VolumeDescriptorKind {
    Primary,   // type 1, 8-bit texts
    LongName,  // type 2, descriptor and file structure version 2, 8-bit texts
    Joliet,    // type 2, UCS-2 texts
};

// Publisher texts of the descriptors.
inline constexpr const char* PublisherUpper = "HTTPS://VELK.EXAMPLE.ORG";
inline constexpr const char16_t* PublisherLower = u"https://velk.example.org";

// One 2048-byte descriptor at `out`; `now` is the UTC time for its creation
// and modification dates.
void writeVolumeDescriptor(const ImageProject& project, VolumeDescriptorKind kind,
                           const platform::SystemTime& now, std::uint8_t* out);

inline void writePrimaryDescriptor(const ImageProject& project, const platform::SystemTime& now,
                                   std::uint8_t* out) {
    writeVolumeDescriptor(project, VolumeDescriptorKind::Primary, now, out);
}
inline void writeLongNameDescriptor(const ImageProject& project, const platform::SystemTime& now,
                                    std::uint8_t* out) {
    writeVolumeDescriptor(project, VolumeDescriptorKind::LongName, now, out);
}
inline void writeJolietDescriptor(const ImageProject& project, const platform::SystemTime& now,
                                  std::uint8_t* out) {
    writeVolumeDescriptor(project, VolumeDescriptorKind::Joliet, now, out);
}

// Type 255: FFh, "CD001", version 1, zeros.
void writeTerminator(std::uint8_t* out);

}  // namespace velk::image
