#include "engine/device/RecorderClaim.h"

#include <map>
#include <mutex>
#include <set>
#include <string>

namespace velk::device {
namespace {

std::mutex claimsLock;
// The drives held, and which device record holds each.
std::set<std::string>& claims() {
    static std::set<std::string> held;
    return held;
}
std::map<const RecorderDevice*, std::string>& holders() {
    static std::map<const RecorderDevice*, std::string> byDevice;
    return byDevice;
}

// What names one drive across engines: its node for the pass-through
// transport, its address and library for the ASPI-style one.
std::string recorderKey(const RecorderDevice& device) {
    if (device.sptiMode == 1) {
        const DeviceEntry& entry = device.entries[device.selectedIndex];
        if (entry.devicePath[0] != 0) return std::string("sg:") + entry.devicePath;
    }
    return "aspi:" + std::to_string(reinterpret_cast<std::uintptr_t>(device.aspiLibrary)) + ":" +
           std::to_string(device.adapterId) + ":" + std::to_string(device.targetId) + ":" +
           std::to_string(device.lun);
}

}  // namespace

bool recorderSelected(const RecorderDevice& device) {
    if (device.deviceCount == 0 || device.selectedIndex >= device.deviceCount) return false;
    const DeviceEntry& entry = device.entries[device.selectedIndex];
    return entry.adapter == device.adapterId && entry.target == device.targetId && entry.lun == device.lun;
}

bool claimRecorder(RecorderDevice& device, bool usesRecorder) {
    std::int32_t expected = 0;
    if (!device.jobActive.compare_exchange_strong(expected, 1)) return false;
    // A deferred error from before the job is not the job's.
    device.deferredErrorCode = 0;
    if (!usesRecorder || !recorderSelected(device)) return true;  // no drive to share
    std::string key = recorderKey(device);
    std::lock_guard<std::mutex> lock(claimsLock);
    if (!claims().insert(key).second) {
        device.jobActive = 0;
        return false;
    }
    holders()[&device] = key;
    device.jobActive = 2;  // holds a process-wide claim
    return true;
}

void releaseRecorder(RecorderDevice& device) {
    std::int32_t held = device.jobActive.load();
    if (held == 0) return;
    if (held == 2) {
        std::lock_guard<std::mutex> lock(claimsLock);
        auto holder = holders().find(&device);
        if (holder != holders().end()) {
            claims().erase(holder->second);
            holders().erase(holder);
        }
    }
    device.jobActive = 0;
}

}  // namespace velk::device
