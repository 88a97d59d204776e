// Layout planning: places every structure and every file of the image on
// its block before a byte is written (ECMA-119 descriptors, path tables and
// directory extents, the El Torito catalog and boot image, the UDF 1.50
// bridge structures and file-structure area, the file data).
//
// Block numbers are relative to the start of the image; writers add the
// session's start address. The size of a record family (a directory extent,
// a path table) is the rule of its format module, which planning calls and
// the writer checks against.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"

namespace velk::image {

inline constexpr std::uint32_t BlockBytes = 2048;

enum class DirectoryTree { Iso, Joliet };

// Blocks needed for `bytes` (rounded up).
inline std::uint64_t blocksFor(std::uint64_t bytes) {
    return (bytes + BlockBytes - 1) / BlockBytes;
}

// The plan. Returns dataStart + dataBlocks, plus 1 with UDF on (the size
// before rounding); imageBlocks holds the final size. Sets prepared.
int planLayout(ImageProject& project);

}  // namespace velk::image
