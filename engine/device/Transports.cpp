#include "engine/device/Transports.h"

#include <cerrno>
#include <cstring>

#include "platform/DeviceNode.h"
#include "platform/DynamicLibrary.h"
#include "platform/ScsiPassThrough.h"

namespace velk::device {

std::string sysfsRootOf(const RecorderDevice& device) {
    return device.sysfsRoot[0] ? std::string(device.sysfsRoot) : std::string("/sys");
}

std::string devRootOf(const RecorderDevice& device) {
    return device.devRoot[0] ? std::string(device.devRoot) : std::string("/dev");
}

std::string nodePathForLetter(const RecorderDevice& device, char letter) {
    if (letter < 'C' || letter > 'Z') return {};
    return devRootOf(device) + "/sr" + std::to_string(letter - 'C');
}

std::uint8_t SubmitPassThrough(RecorderDevice& device, ScsiRequestBlock& request) {
    if (device.deviceHandle < 0) {
        std::string node = nodePathForLetter(device, device.driveLetter);
        errno = ENOENT;
        device.deviceHandle = node.empty() ? -1 : platform::openDeviceNode(node);
    }

    platform::PassThroughCommand command;
    command.cdb = request.cdb;
    command.cdbLength = request.cdbLength <= sizeof request.cdb ? request.cdbLength : sizeof request.cdb;
    if (request.flags & SrbDataIn) {
        command.direction = platform::DataDirection::FromDevice;
    } else if (request.flags & SrbDataOut) {
        command.direction = platform::DataDirection::ToDevice;
    } else {
        command.direction = platform::DataDirection::None;
    }
    command.buffer = request.dataBuffer;
    command.length = request.dataLength;
    std::uint8_t sense[platform::PassThroughSenseCapacity] = {};
    command.sense = sense;
    command.senseRequested = request.senseLength;
    command.timeoutMs = platform::PassThroughTimeoutMs;

    platform::PassThroughResult result;
    if (device.deviceHandle >= 0) {
        result = platform::sendPassThrough(device.deviceHandle, command);
    } else {
        result.osError = errno != 0 ? errno : ENOENT;
    }
    device.lastOsError = static_cast<std::uint32_t>(result.osError);
    device.lastTransferred = command.direction == platform::DataDirection::None
                                 ? 0
                                 : (result.delivered ? result.transferred : 0);

    if (!result.delivered || result.scsiStatus != ScsiStatusGood) {
        request.status = SrbError;
        std::memcpy(request.sense, sense, sizeof request.sense);
        request.targetStatus = result.delivered ? result.scsiStatus : 0;
        request.adapterStatus = result.delivered ? 0 : result.hostStatus;
    } else {
        request.status = SrbComplete;
    }

    if (device.closeAfterCommand == 1 && device.deviceHandle >= 0) {
        if (platform::closeDeviceNode(device.deviceHandle)) device.deviceHandle = -1;
    }
    return request.status;
}

std::uint32_t SubmitAspi(RecorderDevice& device, ScsiRequestBlock& request) {
    auto send = reinterpret_cast<SendAspiCommandFn>(device.sendAspiCommand);
    // The library does not report a residue: the whole data length counts.
    device.lastTransferred = request.dataLength;
    if (!send) {
        request.status = SrbError;
        return SrbError;
    }
    return send(&request);
}

bool SetUpAspi(RecorderDevice& device, const char* libraryPath) {
    std::string path = libraryPath && *libraryPath ? libraryPath : DefaultAspiLibrary;
    void* library = platform::loadLibrary(path);
    if (!library) return false;
    device.aspiLibrary = library;
    auto supportInfo =
        reinterpret_cast<GetAspiSupportInfoFn>(platform::findSymbol(library, GetAspiSupportInfoName));
    void* send = platform::findSymbol(library, SendAspiCommandName);
    device.sendAspiCommand = send;
    if (!supportInfo || !send) return false;
    return supportInfo() != 0;
}

}  // namespace velk::device
