// The image header: every block from 0 up to the boot image (150 blocks at
// least), generated in memory in disc order before the image streams: the
// system area, the volume descriptor set, the UDF bridge volume structures,
// the path tables, the ISO 9660 and Joliet directory extents, the El Torito
// boot catalog and zero padding.
//
// What the producer does with it: stream headerBytes of headerBuffer first,
// then the boot image file at plan.bootImageBlock, then the UDF file-structure
// area (produceUdfBlocks of UdfFiles.h, udf.areaBlocks blocks), then the
// file data, zero blocks, and finally writeClosingAnchor's block at
// udf.closingAnchor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/image/ImageProject.h"

namespace velk::image {

// Generates the header for an image that starts at disc block `startLba`
// (its UDF structures at `udfSessionStart`; the burn set-up gives both the
// same value), into project.headerBuffer / headerBytes, and resets the UDF
// file-structure generator. Returns 1 on success; 0 with pendingError
// ErrNotPrepared (1) when the project is not planned or the tree no longer
// fits its plan, or ErrOutOfMemory (12) when the buffer cannot be had. The
// buffer holds exactly the planned header (plan.headerBlocks blocks) and no
// write goes past it.
int GenerateHeader(ImageProject& project, std::uint32_t startLba, std::uint32_t udfSessionStart);

// The closing UDF anchor: one 2048-byte block at `out` for relative block
// udf.closingAnchor (the image's last block). Needs a planned project with
// UDF on and the session start set by GenerateHeader.
void writeClosingAnchor(const ImageProject& project, std::uint8_t* out);

// Memory for the header; tests replace it to see a failed allocation. The
// memory must be releasable with delete[]. nullptr restores the default.
using HeaderAllocator = std::uint8_t* (*)(std::size_t bytes);
void setHeaderAllocator(HeaderAllocator allocator);

}  // namespace velk::image
