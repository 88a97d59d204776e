// ECMA-119 path tables (9.4): one record per folder, the root first, then
// the folders in path-table order. Type L tables hold little-endian numbers,
// type M tables big-endian ones. The ISO tables carry the folders' 8-bit
// names, the Joliet tables their long names as UCS-2 big-endian. Planning
// sizes a table with pathTableBytes; the writer checks its records against
// that size.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"
#include "engine/image/Layout.h"

namespace velk::image {

enum class PathTableType { L, M };

// Length of a record with an identifier of n bytes: 8 + n, plus 1 when n
// is odd.
constexpr std::uint32_t pathTableRecordLength(std::uint32_t identifierLength) {
    return 8 + identifierLength + identifierLength % 2;
}

// Identifier bytes of a folder's record: its ISO name length, or twice its
// long name length in units. The root's identifier is one zero byte.
std::uint32_t pathTableIdentifierLength(const FolderNode& folder, DirectoryTree tree);

// Bytes of the table of `tree`, the root's record and one per folder; the
// size the volume descriptors give.
std::uint32_t pathTableBytes(const ImageProject& project, DirectoryTree tree);

// One record at `out`; returns its length (pathTableRecordLength).
std::uint32_t writePathTableRecord(std::uint8_t* out, PathTableType type, std::uint32_t extent,
                                   std::uint16_t parentNumber, const std::uint8_t* identifier,
                                   std::uint8_t identifierLength);

// The whole table followed by zero bytes up to the next block boundary, at
// `out` (the planned blocks of the table). False when the records are not
// the planned bytes (the tree changed after planning): a table cut short
// would lose folders to every reader. What fits is written, the rest is zero.
[[nodiscard]] bool writePathTable(const ImageProject& project, DirectoryTree tree, PathTableType type,
                                  std::uint8_t* out);

}  // namespace velk::image
