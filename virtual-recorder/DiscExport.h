// Export of a virtual disc as a plain image: the blocks a reader of a session
// sees, from block 0 to the end of that session (session 0: the last session
// holding data). Blocks a reader cannot read (gaps between sessions, run-out
// blocks) are written as zeros, so block N of the image is block N of the disc.
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
// Blocks the export of `session` holds; 0 when the session has no data or
// does not exist.
std::uint32_t exportBlockCount(const DiscLayout& layout, std::uint32_t session);
[[nodiscard]] bool exportImage(const DiscStore& disc, std::uint32_t session, const std::string& imagePath,
                               std::string* error);

}  // namespace velk::vrec
