#include "platform/DeviceNode.h"

#include <fcntl.h>
#include <unistd.h>

namespace velk::platform {

int openDeviceNode(const std::string& path) {
    int handle = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) handle = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return handle;
}

bool closeDeviceNode(int handle) { return handle >= 0 && ::close(handle) == 0; }

}  // namespace velk::platform
