// ECMA-119 directory records (9.1) and directory extents, for the ISO 9660
// tree (8-bit names, upper-cased when written) and the Joliet tree (UCS-2
// big-endian names). Numbers are both-byte order. Records follow the child
// list, never cross a block boundary (the rule of Layout.h) and carry no
// system use area and no extended attribute record.
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

// Writes one record at `out`; returns its length (33 + n, plus 1 when n is
// even).
std::uint32_t writeDirectoryRecord(std::uint8_t* out, const DirectoryRecord& record);

// The record of `child` in its folder's extent, in `tree`, with the
// identifier bytes built into `identifierBuffer` (at least 255 bytes).
// `section` picks one of the directoryRecordCount records of a file of
// 4 GiB or more.
DirectoryRecord childDirectoryRecord(const ImageProject& project, const FileItem& child,
                                     DirectoryTree tree, std::uint8_t* identifierBuffer,
                                     std::uint32_t section = 0);

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
