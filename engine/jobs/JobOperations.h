// The recording jobs of the engine's surface: burn, burn from an image file,
// write an image file, erase.
#pragma once

#include "engine/core/EngineTypes.h"
#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"
#include "engine/jobs/Erase.h"

namespace velk::jobs {

int StartBurn(ImageProject& project, RecorderDevice& device, CompletionCallback callback,
              void* context);
int StartBurnFromImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                       CompletionCallback callback, void* context);
int StartWriteImage(ImageProject& project, RecorderDevice& device, const char* imagePath,
                    CompletionCallback callback, void* context);
void SetCloseOnly(ImageProject& project);

}  // namespace velk::jobs
