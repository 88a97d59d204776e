// ECMA-119 path tables (9.4): one record per folder, the root first, then
// the folders in path-table order. Type L tables hold little-endian numbers,
// type M tables big-endian ones. The ISO tables carry the folders' 8-bit
// names, the Joliet tables their long names as UCS-2 big-endian.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"
#include "engine/image/Layout.h"

namespace velk::image {

enum class PathTableType { L, M };

// One record at `out`; returns its length (8 + n, plus 1 when n is odd).
std::uint32_t writePathTableRecord(std::uint8_t* out, PathTableType type, std::uint32_t extent,
                                   std::uint16_t parentNumber, const std::uint8_t* identifier,
                                   std::uint8_t identifierLength);

// The whole table followed by zero bytes up to the next block boundary, at
// `out`; returns the bytes written (whole blocks).
std::uint32_t writePathTable(const ImageProject& project, DirectoryTree tree, PathTableType type,
                             std::uint8_t* out);

}  // namespace velk::image
