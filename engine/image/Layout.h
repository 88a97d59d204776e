// Layout planning: places every structure and every file of the image on
// its block before a byte is written (ECMA-119 descriptors, path tables and
// directory extents, the El Torito catalog and boot image, the UDF 1.50
// bridge structures and file-structure area, the file data).
//
// Block numbers are relative to the start of the image; writers add the
// session's start address. The directory block rule lives here once and is
// used both to size a directory extent and to write it.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"

namespace velk::image {

inline constexpr std::uint32_t BlockBytes = 2048;

enum class DirectoryTree { Iso, Joliet };

// Records of one directory extent never cross a block boundary: a record
// that does not fit in what is left of the block starts the next one, and
// the rest of the block is padding. The extent starts with "." and ".."
// (34 bytes each).
class DirectoryBlockRule {
public:
    // Takes a record of `length` bytes; returns the padding bytes that go
    // before it (0 when it fits in the current block).
    std::uint32_t place(std::uint32_t length) {
        if (length > free_) {
            std::uint32_t padding = free_;
            used_ += free_ + length;
            free_ = BlockBytes - length;
            return padding;
        }
        used_ += length;
        free_ -= length;
        return 0;
    }
    // Bytes left in the current block.
    std::uint32_t free() const { return free_; }
    // Whole blocks of the extent; a record that fills a block exactly opens
    // no new one.
    std::uint32_t blocks() const { return (used_ + free_) / BlockBytes; }

private:
    std::uint32_t used_ = 68;
    std::uint32_t free_ = BlockBytes - 68;
};

// A file too large for the 32-bit data length of one directory record is
// recorded as several records of consecutive extents (ECMA-119 multi-extent
// files): every section but the last holds MaxSectionBytes (4 GiB - 2 KiB,
// a whole number of blocks) and carries the multi-extent flag.
inline constexpr std::uint64_t MaxSectionBytes = 0xFFFFF800;
inline constexpr std::uint32_t MaxSectionBlocks = 0xFFFFF800 / BlockBytes;

// Directory records of a child: 1, or the sections of a file of 4 GiB or more.
std::uint32_t directoryRecordCount(const FileItem& child);

// Length of a child's directory record: 33 + n, plus 1 when n is even; n is
// the ISO name length in bytes or twice the Joliet name length in units.
std::uint32_t directoryRecordLength(const FileItem& child, DirectoryTree tree);

// Blocks of a folder's extent in one tree.
std::uint32_t directoryExtentBlocks(const FolderNode& folder, DirectoryTree tree);

// Blocks needed for `bytes` (rounded up).
inline std::uint64_t blocksFor(std::uint64_t bytes) {
    return (bytes + BlockBytes - 1) / BlockBytes;
}

// The plan. Returns dataStart + dataBlocks, plus 1 with UDF on (the size
// before rounding); imageBlocks holds the final size. Sets prepared.
int planLayout(ImageProject& project);

}  // namespace velk::image
