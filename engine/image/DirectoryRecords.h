// ECMA-119 directory records (9.1) and directory extents, for the ISO 9660
// tree (8-bit names, upper-cased when written) and the Joliet tree (UCS-2
// big-endian names). Numbers are both-byte order. Records follow the child
// list, never cross a block boundary (DirectoryBlockRule) and carry no
// system use area and no extended attribute record. Planning sizes every
// extent with the rules below; the writer lays the records out by the same.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"
#include "engine/image/Layout.h"
#include "platform/Time.h"

namespace velk::image {

struct DirectoryRecord {
    std::uint32_t extent = 0;
    std::uint32_t dataLength = 0;
    const platform::SystemTime* date = nullptr;  // null: seven zero bytes
    std::int8_t gmtOffset = 0;
    std::uint8_t flags = 0;                      // 01h hidden, 02h directory
    const std::uint8_t* identifier = nullptr;
    std::uint8_t identifierLength = 0;
};

inline constexpr std::uint8_t RecordHidden = 0x01;
inline constexpr std::uint8_t RecordDirectory = 0x02;
inline constexpr std::uint8_t RecordMultiExtent = 0x80;  // another section follows

// Offset byte of a record date: minutes east of UTC in 15-minute units,
// truncated toward zero.
inline std::int8_t quarterHours(std::int16_t utcOffsetMinutes) {
    return static_cast<std::int8_t>(utcOffsetMinutes / 15);
}

// Length of a record with an identifier of n bytes: 33 + n, plus 1 when n
// is even.
constexpr std::uint32_t directoryRecordLength(std::uint32_t identifierLength) {
    return 33 + identifierLength + (identifierLength % 2 == 0 ? 1 : 0);
}

// Records of one directory extent never cross a block boundary: a record
// that does not fit in what is left of the block starts the next one, and
// the rest of the block is padding. The extent starts with "." and "..",
// whose identifiers are one byte.
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
    std::uint32_t used_ = 2 * directoryRecordLength(1);
    std::uint32_t free_ = BlockBytes - used_;
};

// A file too large for the 32-bit data length of one directory record is
// recorded as several records of consecutive extents (ECMA-119 multi-extent
// files): every section but the last holds MaxSectionBytes (4 GiB - 2 KiB,
// a whole number of blocks) and carries the multi-extent flag.
inline constexpr std::uint64_t MaxSectionBytes = 0xFFFFF800;
inline constexpr std::uint32_t MaxSectionBlocks = 0xFFFFF800 / BlockBytes;

// Identifier bytes of a child's record: the ISO name length in bytes, or
// twice the Joliet name length in units.
std::uint32_t directoryIdentifierLength(const FileItem& child, DirectoryTree tree);

// Length of a child's directory record.
std::uint32_t directoryRecordLength(const FileItem& child, DirectoryTree tree);

// Directory records of a child: 1, or the sections of a file of 4 GiB or more.
std::uint32_t directoryRecordCount(const FileItem& child);

// Blocks of a folder's extent in one tree.
std::uint32_t directoryExtentBlocks(const FolderNode& folder, DirectoryTree tree);

// Writes one record at `out`; returns its length (directoryRecordLength).
std::uint32_t writeDirectoryRecord(std::uint8_t* out, const DirectoryRecord& record);

// The record of `child` in its folder's extent, in `tree`, with the
// identifier bytes built into `identifierBuffer` (at least 255 bytes).
// `section` picks one of the directoryRecordCount records of a file of
// 4 GiB or more.
DirectoryRecord childDirectoryRecord(const ImageProject& project, const FileItem& child,
                                     DirectoryTree tree, std::uint8_t* identifierBuffer,
                                     std::uint32_t section = 0);

// The record that points at `folder` itself: the "." record of its extent,
// and for the root the root record of a volume descriptor.
DirectoryRecord selfDirectoryRecord(const ImageProject& project, const FolderNode& folder,
                                    DirectoryTree tree);

// The recording date of a folder's records ("." and the records that point
// at it): the date of its entry, or the project's root date; the offset
// byte is the offset in force at that date.
void folderRecordDate(const ImageProject& project, const FolderNode& folder,
                      DirectoryRecord& record);

// The extent location of a folder in `tree`, with startLba added.
std::uint32_t folderExtent(const ImageProject& project, const FolderNode& folder,
                           DirectoryTree tree);
std::uint32_t folderBytes(const FolderNode& folder, DirectoryTree tree);

// Writes the whole extent of `folder` (exactly its planned bytes) at `out`.
// Returns false, leaving the rest zero, when the records no longer fit the
// planned extent (the tree changed after planning).
[[nodiscard]] bool writeDirectoryExtent(const ImageProject& project, const FolderNode& folder,
                                        DirectoryTree tree, std::uint8_t* out);

}  // namespace velk::image
