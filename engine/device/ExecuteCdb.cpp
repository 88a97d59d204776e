#include "engine/device/ExecuteCdb.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/TraceLog.h"
#include "engine/device/CommandTrace.h"
#include "engine/device/Sense.h"
#include "engine/device/Transports.h"
#include "platform/Event.h"

namespace velk::device {
namespace {

TraceClock traceClock = &platform::currentUtcTime;

// A disc change or a reset is reported once, to whichever command comes
// first; the command itself was not carried out. More than a few in a row
// is no longer one event.
constexpr int UnitAttentionRetries = 3;

const char* nameOf(const RecorderDevice& device, const ScsiRequestBlock& request) {
    return request.cdb[0] < 255 ? device.opcodeNames[request.cdb[0]] : "";
}

// The opcode's name without the padding of the trace columns.
std::string plainName(const RecorderDevice& device, const ScsiRequestBlock& request) {
    std::string name = nameOf(device, request);
    name.erase(name.find_last_not_of(' ') + 1);
    if (name.empty()) {
        char code[8];
        std::snprintf(code, sizeof code, "%02x", request.cdb[0]);
        name = code;
    }
    return name;
}

// The request, once, through the transport of the last Initialise.
void submitOnce(RecorderDevice& device, ScsiRequestBlock& request) {
    platform::Event completion;
    request.adapter = device.adapterId;
    request.target = device.targetId;
    request.lun = device.lun;
    request.senseLength = ScsiSenseRequested;
    request.commandCode = SrbExecuteCommand;
    request.completionEvent = &completion;
    // A command sent again must not show the sense of its first answer.
    std::memset(request.sense, 0, sizeof request.sense);
    request.adapterStatus = 0;
    request.targetStatus = ScsiStatusGood;

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
        trace::write("%s", trace::formatCommandLine(request, nameOf(device, request), traceClock(),
                                                    device.sptiMode == 1, device.lastOsError)
                               .c_str());
    }
}

// A line of its own in the trace after the command's, for what the engine
// made of an answer.
__attribute__((format(printf, 1, 2))) void traceNote(const char* format, ...) {
    if (!trace::isOpen()) return;
    char text[160];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    trace::write("      %s\n", text);
}

bool checkCondition(const ScsiRequestBlock& request) {
    return request.status != SrbComplete && request.targetStatus == ScsiStatusCheckCondition;
}

}  // namespace

void setTraceClock(TraceClock clock) { traceClock = clock ? clock : &platform::currentUtcTime; }

std::uint8_t ExecuteCdb(RecorderDevice& device, ScsiRequestBlock& request) {
    SenseData sense;
    for (int attempt = 0;; ++attempt) {
        submitOnce(device, request);
        sense = parseSense(request.sense, sizeof request.sense);
        if (!checkCondition(request) || sense.key != SenseKeyUnitAttention || sense.deferred ||
            attempt == UnitAttentionRetries) {
            break;
        }
        traceNote("unit attention %02x/%02x/%02x: %s sent again", sense.key, sense.asc, sense.ascq,
                  plainName(device, request).c_str());
    }

    if (checkCondition(request) && sense.key == SenseKeyRecoveredError && !sense.deferred) {
        // The drive carried the command out and says it had to retry.
        traceNote("recovered error %02x/%02x/%02x: taken as success", sense.key, sense.asc, sense.ascq);
        request.status = SrbComplete;
        request.targetStatus = ScsiStatusGood;
        std::memset(request.sense, 0, sizeof request.sense);
        sense = {};
    }

    // BUSY is the drive's answer, whether the transport refused the request
    // at once or completed it later through the event.
    device.busy = (request.status != SrbComplete && request.targetStatus == ScsiStatusBusy) ? 1 : 0;
    device.lastTransportFailure = (request.status != SrbComplete && request.targetStatus == ScsiStatusGood &&
                                   sense.key == 0 && sense.asc == 0)
                                      ? 1
                                      : 0;
    if (device.lastTransportFailure) {
        device.transportHostStatus = request.adapterStatus;
        device.transportOsError = device.sptiMode == 1 ? device.lastOsError : 0;
    }
    std::memcpy(device.lastSense, request.sense, sizeof device.lastSense);
    if (checkCondition(request) && sense.deferred) {
        traceNote("deferred error %02x/%02x/%02x of an earlier command", sense.key, sense.asc, sense.ascq);
        // A code of 0 would read as "none": one without ASC keeps the top value.
        device.deferredErrorCode = sense.asc != 0 ? errorCodeOf(sense) : 0xFFFF;
    }
    if (sense.asc != 0 && device.suppressErrorCode == 0) device.lastErrorCode = errorCodeOf(sense);
    return request.status;
}

}  // namespace velk::device
