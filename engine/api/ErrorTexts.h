// The pending error code and its messages.
//
// The project's pending code always wins over the recorder's sticky hardware
// code; reading either clears it. The 8-bit and UTF-16 tables differ in two
// rows on purpose (callers compare them): code 10 has a blank before the
// quotation mark only in the 8-bit text, and the hardware number is bare in
// the 8-bit text but quoted in the UTF-16 one.
#pragma once

#include <cstdint>

#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"

namespace velk {

int takeLastErrorCode(ImageProject& project, RecorderDevice& device);
// Format the message of a code into the device's text buffers (cut to fit).
const char* formatErrorText(int code, const ImageProject& project, RecorderDevice& device);
const char16_t* formatErrorTextW(int code, const ImageProject& project, RecorderDevice& device);

}  // namespace velk
