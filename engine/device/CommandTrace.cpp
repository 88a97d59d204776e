#include "engine/device/CommandTrace.h"

#include <cstdio>

#include "engine/device/Sense.h"

namespace velk::trace {

std::string formatCommandLine(const ScsiRequestBlock& request, const char* opcodeName,
                              const platform::SystemTime& now, bool passThrough,
                              std::uint32_t lastOsError) {
    std::string line;
    char field[160];
    auto address = reinterpret_cast<std::intptr_t>(request.dataBuffer);
    if (address % 4 != 0) {
        std::snprintf(field, sizeof field, "---> %lld ", static_cast<long long>(address));
        line += field;
    }
    std::snprintf(field, sizeof field, "%02d:%02d:%03d %s (%02x) {%02x:%02x} - %01x:%01x:%01x <%02x> [%05x] ",
                  now.minute, now.second, now.millisecond, opcodeName ? opcodeName : "",
                  request.cdb[0], request.flags, request.cdbLength, request.adapter,
                  request.target, request.lun, request.status, request.dataLength);
    line += field;
    for (int i = 1; i < 16; ++i) {
        std::snprintf(field, sizeof field, "%02x ", request.cdb[i]);
        line += field;
    }
    line += "| ";
    if (request.dataBuffer) {
        std::size_t count = request.dataLength < TracedDataBytes ? request.dataLength : TracedDataBytes;
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(field, sizeof field, "%02x ", request.dataBuffer[i]);
            line += field;
        }
    }
    const device::SenseData sense = device::parseSense(request.sense, sizeof request.sense);
    std::snprintf(field, sizeof field, "%02x:%02x", sense.asc, sense.ascq);
    line += field;
    if (passThrough) {
        std::snprintf(field, sizeof field, ", %d", static_cast<int>(lastOsError));
        line += field;
    }
    line += "\n";
    return line;
}

}  // namespace velk::trace
