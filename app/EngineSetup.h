// How the application reaches its recorders. Normally the engine has already
// scanned the machine's optical drives when it was built. When
// VELK_VIRTUAL_DISCS names disc files (':'-separated), the engine is pointed
// at the virtual recorder instead, loaded from $VELK_VIRTUAL_RECORDER_LIBRARY
// or found beside the program, in ../virtual-recorder or in ../lib; its
// polls then run at $VELK_VIRTUAL_TIME_SCALE, the recorder's own speed.
#pragma once

#include <string>

namespace velk {
class BurnEngine;
}

namespace velk::app {

std::string VirtualRecorderLibrary();
// False (with a message) only when virtual discs were asked for and the
// virtual recorder cannot be used.
bool AttachRecorders(BurnEngine& engine, std::string* message);

}  // namespace velk::app
