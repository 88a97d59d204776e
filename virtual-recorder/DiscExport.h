// Export of a virtual disc as a plain image: the blocks a reader of a session
// sees, from block 0 to the end of that session (session 0: the last session
// holding data). Blocks a reader cannot read (gaps between sessions, run-out
// blocks) are written as zeros, so block N of the image is block N of the disc.
// A multisession reader needs every one of them: a later session's tree
// points at files of the earlier ones by their disc address. A reader of such
// an image starts at block 16 and so sees session 1 unless it is told the
// session's start (xorriso -load sbsector START). An export of the session's
// own blocks only (SessionOnly) starts at the session's first block; its
// addresses still count from the disc's block 0.
//
// The image is written under a temporary name beside the target and renamed
// over it once complete, so a failed export leaves no partial image and an
// existing file of that name as it was; a target that is not a regular file
// (a FIFO, a device, "-" for standard output) is written directly. The disc's own files (disc file,
// data file, a pressed disc's image) are never a target.
#pragma once

#include <cstdint>
#include <string>

#include "virtual-recorder/DiscStore.h"

namespace velk::vrec {

// Sessions that hold data: the closed ones and an open one with data
// (sequential media), else 1 for a disc with data.
std::uint32_t recordedSessions(const DiscLayout& layout);
// First block of `session` (1-based; 0: the last session holding data): the
// sbsector a reader is given to read that session. 0 on media without
// sessions, whose one volume starts at block 0.
std::uint32_t sessionStart(const DiscLayout& layout, std::uint32_t session);

enum class ExportExtent { FromDiscStart, SessionOnly };

// Blocks the export of `session` holds; 0 when the session has no data or
// does not exist.
std::uint32_t exportBlockCount(const DiscLayout& layout, std::uint32_t session,
                               ExportExtent extent = ExportExtent::FromDiscStart);
[[nodiscard]] bool exportImage(const DiscStore& disc, std::uint32_t session, const std::string& imagePath,
                               std::string* error, ExportExtent extent = ExportExtent::FromDiscStart);

}  // namespace velk::vrec
