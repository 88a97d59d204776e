// El Torito bootable CD structures (El Torito 1.0, 2.0-2.2): the boot record
// volume descriptor, the one-block boot catalog (validation entry and
// initial/default entry, little-endian numbers) and the accepted boot image
// sizes. The catalog pointer and the load RBA are absolute disc addresses
// (planned block + startLba), so a bootable appended session boots from its
// own catalog and image.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/image/ImageProject.h"

namespace velk::image {

struct BootMedia {
    std::uint8_t mediaType;     // 0 no emulation, 1/2/3 1.2/1.44/2.88 MB diskette
    std::uint16_t sectorCount;  // 512-byte sectors loaded
};

// The media type and sector count of a boot image of `size` bytes, or
// nullopt when the size is not one of 2048, 1,228,800, 1,474,560 and
// 2,949,120 bytes.
std::optional<BootMedia> bootMediaForSize(std::uint64_t size);

// Type 0: "EL TORITO SPECIFICATION", catalog block (LE) at 71.
void writeBootRecord(const ImageProject& project, std::uint8_t* out);

// The catalog block at `out`, checksum computed last.
void writeBootCatalog(const ImageProject& project, std::uint8_t* out);

// Sum of the sixteen little-endian words of the validation entry (bytes
// 0-31); 0 for a valid catalog.
std::uint16_t validationEntrySum(const std::uint8_t* catalog);

// SetBootImage: measures the file; keeps the path when its size is
// accepted. Returns 1 when accepted, 0 otherwise (a null path changes
// nothing; otherwise the path is emptied).
int setBootImage(ImageProject& project, const char* path);

}  // namespace velk::image
