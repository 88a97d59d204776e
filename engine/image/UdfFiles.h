// UDF 1.50 file structures (ECMA-167 4/14.4 file identifier descriptor,
// 4/14.9 file entry): one file entry per folder and per file, and per folder
// a stream of file identifier descriptors, all in the file-structure area
// between the boot image and the file data.
//
// The area is a depth-first pre-order walk of the tree: for each folder its
// file entry, the blocks of its identifier stream, then its children in
// child-list order (a file as one file-entry block, a folder as its whole
// subtree). Planning assigns the blocks; the generator produces them in the
// same walk, a few blocks per call, while the image streams. Locations inside
// the partition are logical: relative block - 257 + udfSessionStart.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/image/ImageProject.h"

namespace velk::image {

// The name a child carries in its folder's identifier stream: a folder's
// long name, a file's Joliet name without the "." added for a name without
// an extension (UDF keeps the source name as it is).
std::u16string_view udfIdentifierName(const FileItem& child);
// Bytes of one file identifier descriptor: 38 + L_FI, rounded up to a
// multiple of 4; L_FI is 0 for the parent entry, else 1 + 2 * units.
std::uint32_t fileIdentifierLength(std::size_t nameUnits, bool parentEntry);

// Planning: sizes the area from relative block `start` (folder entries,
// identifier streams, file entries; counts folders and files); returns its
// length in blocks.
std::uint32_t planUdfArea(ImageProject& project, std::uint32_t start);

// The records. Each writes one descriptor at `out` and returns its length.
// A file entry fills a whole 2048-byte block. `uniqueId` is the value for
// bytes 160-167.
void writeFolderFileEntry(const ImageProject& project, const FolderNode& folder,
                          std::uint64_t uniqueId, std::uint8_t* out);
void writeFileFileEntry(const ImageProject& project, const FileItem& file,
                        std::uint64_t uniqueId, std::uint8_t* out);
// The parent entry of `folder`'s stream (pointing to its parent; the root's
// to itself) when `child` is null, else the entry of `child`. `location` is
// the logical block where the descriptor starts.
std::uint32_t writeFileIdentifier(const ImageProject& project, const FolderNode& folder,
                                  const FileItem* child, std::uint32_t location,
                                  std::uint8_t* out);

// The file-structure generator.
//
// beginUdfArea resets it to the start of the area (and unique identifiers to
// 16); header generation calls it. produceUdfBlocks then fills `blockCount`
// (1..255) consecutive 2048-byte blocks at `out` with the next blocks of the
// area, in planned order, carrying a descriptor that does not fit in the
// last block over to the next call. The calls together ask for exactly
// udf.areaBlocks blocks. Returns 1 when blocks were produced, 0 when the
// area was already complete (or blockCount is out of range); blocks asked
// for past the end of the area are zero-filled.
void beginUdfArea(ImageProject& project);
int produceUdfBlocks(ImageProject& project, std::uint8_t* out, std::uint32_t blockCount);
bool udfAreaDone(const ImageProject& project);

}  // namespace velk::image
