#include "engine/device/ExecuteCdb.h"

#include <cstring>

#include "engine/core/TraceLog.h"
#include "engine/device/CommandTrace.h"
#include "engine/device/Transports.h"
#include "platform/Event.h"

namespace velk::device {
namespace {

TraceClock traceClock = &platform::currentUtcTime;

}  // namespace

void setTraceClock(TraceClock clock) { traceClock = clock ? clock : &platform::currentUtcTime; }

std::uint8_t ExecuteCdb(RecorderDevice& device, ScsiRequestBlock& request) {
    platform::Event completion;
    request.adapter = device.adapterId;
    request.target = device.targetId;
    request.lun = device.lun;
    request.senseLength = ScsiSenseRequested;
    request.commandCode = SrbExecuteCommand;
    request.completionEvent = &completion;

    std::uint32_t submitted;
    if (device.sptiMode == 1) {
        submitted = SubmitPassThrough(device, request);
    } else {
        submitted = SubmitAspi(device, request);
    }
    if (submitted == SrbPending) completion.wait();
    completion.reset();
    // The event dies with this call; a library must not keep the pointer.
    request.completionEvent = nullptr;

    if (trace::isOpen()) {
        const char* name = request.cdb[0] < 255 ? device.opcodeNames[request.cdb[0]] : "";
        trace::write("%s", trace::formatCommandLine(request, name, traceClock(), device.sptiMode == 1,
                                                    device.lastOsError)
                               .c_str());
    }

    // BUSY is the drive's answer, whether the transport refused the request
    // at once or completed it later through the event.
    device.busy = (request.status != SrbComplete && request.targetStatus == ScsiStatusBusy) ? 1 : 0;
    std::memcpy(device.lastSense, request.sense, sizeof device.lastSense);
    std::uint8_t asc = device.lastSense[12];
    if (asc != 0 && device.suppressErrorCode == 0) {
        device.lastErrorCode = static_cast<std::uint16_t>(asc * 256 + device.lastSense[13]);
    }
    return request.status;
}

}  // namespace velk::device
