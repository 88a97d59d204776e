// Planning, boot images and session import answer with their failure value
// until the on-disc structures are in place.
#include "engine/image/ImageOperations.h"

namespace velk::image {

int PrepareImage(ImageProject&) { return 0; }
int SetBootImage(ImageProject&, const char*) { return 0; }
const char* GetBootImage(ImageProject& project) { return project.bootImagePath.c_str(); }
int ImportSession(ImageProject&, int, std::u16string_view) { return 0; }

}  // namespace velk::image
