// Planning results: where every structure and file of the image lies. Block
// numbers are relative to the start of the image unless a field says
// otherwise; writers add the session's start address.
#pragma once

#include <cstdint>

namespace velk {

struct LayoutPlan {
    std::uint32_t isoPathTableBytes = 0;
    std::uint32_t jolietPathTableBytes = 0;
    std::uint32_t isoPathTableL = 0;
    std::uint32_t isoPathTableM = 0;
    std::uint32_t jolietPathTableL = 0;
    std::uint32_t jolietPathTableM = 0;
    std::uint32_t isoDirStart = 0;
    std::uint32_t isoDirBlocks = 0;
    std::uint32_t jolietDirStart = 0;
    std::uint32_t jolietDirBlocks = 0;
    std::uint32_t bootCatalogBlock = 0;
    std::uint32_t bootImageBlock = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t dataBlocks = 0;
    std::uint32_t imageBlocks = 0;
    std::uint32_t nextBlock = 0;
    std::uint32_t dataEndsOnChunk = 0;
    // Block on the disc where the image starts (0 for a first session).
    std::uint32_t startLba = 0;

    // Length of the generated header in blocks: everything before the boot
    // image (or the UDF file-structure area, or the file data); 150 at least.
    std::uint32_t headerBlocks = 0;
    // Bytes allocated for headerBuffer by the last generation; appends never
    // go beyond it.
    std::uint32_t headerCapacity = 0;
    // Zero bytes shared by every padding write (one raw CD sector's worth).
    std::uint8_t zeroBlock[2352] = {};
};

}  // namespace velk
