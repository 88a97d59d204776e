#include "platform/Terminal.h"

#include <unistd.h>

namespace velk::platform {

bool isTerminal(std::FILE* stream) { return stream && ::isatty(::fileno(stream)) == 1; }

}  // namespace velk::platform
