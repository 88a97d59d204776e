// Planning and boot images; the import of a previous session lives in
// SessionImport.cpp.
#include "engine/image/ImageOperations.h"

#include "engine/image/ElTorito.h"
#include "engine/image/Layout.h"

namespace velk::image {

int PrepareImage(ImageProject& project) { return planLayout(project); }
int SetBootImage(ImageProject& project, const char* path) { return setBootImage(project, path); }
const char* GetBootImage(ImageProject& project) { return project.bootImagePath.c_str(); }

}  // namespace velk::image
