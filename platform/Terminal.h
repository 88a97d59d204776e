// Whether an output stream is a terminal (progress lines are drawn only there).
#pragma once

#include <cstdio>

namespace velk::platform {

bool isTerminal(std::FILE* stream);

}  // namespace velk::platform
