// A plain, single-threaded image writer for tests: writes a whole planned
// image in stream order (header, boot image, UDF file-structure area, file
// data with each file from a block boundary and its last block zero-filled,
// zero blocks, closing UDF anchor) to a file. The streaming producer must
// give the same bytes; this writer is the reference both are held against.
//
// Every stage checks that it starts on its planned block, so a planning or
// generation slip shows up as a failure here and not as a corrupt image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/ImageProject.h"

namespace velk::testing {

struct TestImageOptions {
    std::uint32_t startLba = 0;  // also the UDF session start
    // Block counts handed to the UDF generator, used in turn (1..255).
    std::vector<std::uint32_t> udfCallSizes = {32};
};

// Generates the header (the project must be planned) and writes the image
// to `path`. Returns an empty string on success, else what went wrong.
std::string writeTestImage(ImageProject& project, const std::string& path,
                           const TestImageOptions& options = {});

}  // namespace velk::testing
