// The image side of the engine's surface beyond the source tree: planning,
// the boot image and the import of a previous session.
#pragma once

#include <string_view>

#include "engine/image/ImageProject.h"
#include "engine/image/SessionImport.h"

namespace velk::image {

// Plans the layout; returns the image size in blocks before rounding.
int PrepareImage(ImageProject& project);
int SetBootImage(ImageProject& project, const char* path);
const char* GetBootImage(ImageProject& project);
// ImportSession: see SessionImport.h.

}  // namespace velk::image
