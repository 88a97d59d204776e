// Export of a virtual disc as a plain image: the blocks a reader of a session
// sees, from block 0 to the end of that session (session 0: the last session
// holding data). Blocks a reader cannot read (gaps between sessions, run-out
// blocks) are written as zeros, so block N of the image is block N of the disc.
#pragma once

#include <cstdint>
#include <string>

#include "virtual-recorder/DiscStore.h"

namespace velk::vrec {

// Blocks the export of `session` holds; 0 when the session has no data or
// does not exist.
std::uint32_t exportBlockCount(const DiscLayout& layout, std::uint32_t session);
[[nodiscard]] bool exportImage(const DiscStore& disc, std::uint32_t session, const std::string& imagePath,
                               std::string* error);

}  // namespace velk::vrec
