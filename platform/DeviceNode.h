// Opening and closing the block node of an optical drive for pass-through
// commands.
#pragma once

#include <string>

namespace velk::platform {

// Opens read-write, non-blocking, falling back to read-only; -1 on failure
// (errno is kept for the caller).
int openDeviceNode(const std::string& path);
// Returns true when the node was closed.
bool closeDeviceNode(int handle);

}  // namespace velk::platform
