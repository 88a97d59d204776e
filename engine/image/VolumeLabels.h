// The volume label of a project. Both forms are stored, each cut to 32
// units (bytes) at a character boundary; the descriptors cut them further
// to what each holds (16 units in Joliet, 15 in UDF).
#pragma once

#include "engine/image/ImageProject.h"

namespace velk {

// The result is the length of the converted label.
int setVolumeLabelW(ImageProject& project, const char16_t* label);
int setVolumeLabel(ImageProject& project, const char* label);

}  // namespace velk
