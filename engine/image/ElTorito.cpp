#include "engine/image/ElTorito.h"

#include <cstdio>
#include <cstring>

#include "engine/image/Endian.h"
#include "engine/image/Layout.h"

namespace velk::image {

std::optional<BootMedia> bootMediaForSize(std::uint64_t size) {
    switch (size) {
    case 2048: return BootMedia{0, 4};
    case 1228800: return BootMedia{1, 1};
    case 1474560: return BootMedia{2, 1};
    case 2949120: return BootMedia{3, 1};
    default: return std::nullopt;
    }
}

void writeBootRecord(const ImageProject& project, std::uint8_t* out) {
    static constexpr char System[] = "EL TORITO SPECIFICATION";
    std::memset(out, 0, BlockBytes);
    out[0] = 0;  // descriptor type
    std::memcpy(out + 1, "CD001", 5);
    out[6] = 1;  // version
    std::memcpy(out + 7, System, sizeof System - 1);  // boot system identifier, zero-padded
    // 39 boot identifier: zero
    putLe32(out + 71, project.plan.bootCatalogBlock + project.plan.startLba);
    // 75 unused: zero
}

std::uint16_t validationEntrySum(const std::uint8_t* catalog) {
    std::uint16_t sum = 0;
    for (int i = 0; i < 32; i += 2) sum = static_cast<std::uint16_t>(sum + getLe16(catalog + i));
    return sum;
}

void writeBootCatalog(const ImageProject& project, std::uint8_t* out) {
    const BootMedia media = bootMediaForSize(project.bootImageSize).value_or(BootMedia{0, 4});
    std::memset(out, 0, BlockBytes);
    // Validation entry.
    out[0] = 1;  // header ID
    out[1] = 0;  // platform: 80x86
    // 2 reserved, 4 ID string: zero
    putLe16(out + 28, 0);  // checksum, below
    out[30] = 0x55;
    out[31] = 0xAA;
    // Initial/default entry.
    out[32] = 0x88;  // bootable
    out[33] = media.mediaType;
    putLe16(out + 34, 0);  // load segment: default
    out[36] = 0;           // system type
    out[37] = 0;
    putLe16(out + 38, media.sectorCount);
    putLe32(out + 40, project.plan.bootImageBlock + project.plan.startLba);  // load RBA
    // 44 unused: zero
    putLe16(out + 28, static_cast<std::uint16_t>(0x10000 - validationEntrySum(out)));
}

int setBootImage(ImageProject& project, const char* path) {
    if (!path) return 0;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        project.bootImagePath.clear();
        return 0;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fclose(file);
    project.bootImageSize = size < 0 ? 0 : static_cast<std::uint32_t>(size);
    if (size >= 0 && bootMediaForSize(static_cast<std::uint64_t>(size))) {
        project.bootImagePath = path;
        return 1;
    }
    project.bootImagePath.clear();
    return 0;
}

}  // namespace velk::image
