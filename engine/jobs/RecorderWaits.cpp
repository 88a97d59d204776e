#include "engine/jobs/RecorderWaits.h"

#include <algorithm>

#include "engine/core/EngineTypes.h"
#include "engine/device/MmcCommands.h"
#include "platform/Thread.h"

namespace velk::jobs {
namespace {

std::uint32_t pollsWithin(minutes limit) {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<milliseconds>(limit) / ReadyPollPeriod);
}

void readDiscInformationPoll(RecorderDevice& device) {
    std::uint8_t scratch[42] = {};
    (void)mmc::ReadDiscInformation(device, scratch, sizeof scratch);
}

}  // namespace

void pauseFor(RecorderDevice& device, milliseconds period) {
    double scale = device.pollTimeScale > 0 ? device.pollTimeScale : 1.0;
    double ms = static_cast<double>(period.count()) / scale;
    platform::sleepMs(static_cast<unsigned>(std::max(ms, 1.0)));
}

void reportLastSense(RecorderDevice& device) {
    std::uint8_t asc = lastAsc(device);
    if (asc != 0) {
        device.lastErrorCode = static_cast<std::uint16_t>(asc * 256 + lastAscq(device));
    } else if (device.lastTransportFailure != 0) {
        device.lastErrorCode = ErrTransportFailure;
    }
}

bool reportDeferredError(RecorderDevice& device) {
    if (device.deferredErrorCode == 0) return false;
    device.lastErrorCode = device.deferredErrorCode;
    device.deferredErrorCode = 0;
    return true;
}

bool waitWhileBecomingReady(RecorderDevice& device) {
    auto becomingReady = [&] {
        device::SenseData sense = device::parseSense(device.lastSense, sizeof device.lastSense);
        return sense.key == device::SenseKeyNotReady && sense.asc == AscNotReady && sense.ascq == AscqBecomingReady;
    };
    const std::uint16_t kept = device.lastErrorCode.load();
    (void)mmc::TestUnitReady(device);
    for (auto waited = milliseconds{0}; becomingReady() && waited < BecomingReadyLimit; waited += ReadyPollPeriod) {
        pauseFor(device, ReadyPollPeriod);
        (void)mmc::TestUnitReady(device);
    }
    if (becomingReady()) return false;
    device.lastErrorCode = kept;
    return true;
}

bool waitWhileNotReady(RecorderDevice& device, minutes limit, ReadyProbe probe) {
    for (std::uint32_t polls = pollsWithin(limit); polls > 0; --polls) {
        pauseFor(device, ReadyPollPeriod);
        if (probe == ReadyProbe::TestUnitReady) {
            (void)mmc::TestUnitReady(device);
        } else {
            readDiscInformationPoll(device);
        }
        if (lastAsc(device) != AscNotReady) return true;
    }
    reportLastSense(device);
    return false;
}

bool pollUntilReady(RecorderDevice& device, minutes limit) {
    for (std::uint32_t polls = pollsWithin(limit); polls > 0; --polls) {
        readDiscInformationPoll(device);
        if (lastAsc(device) != AscNotReady) return true;
        pauseFor(device, ReadyPollPeriod);
    }
    reportLastSense(device);
    return false;
}

bool testUntilReady(RecorderDevice& device, minutes limit) {
    for (std::uint32_t polls = pollsWithin(limit); polls > 0; --polls) {
        (void)mmc::TestUnitReady(device);
        if (lastAsc(device) != AscNotReady) return true;
        pauseFor(device, ReadyPollPeriod);
    }
    reportLastSense(device);
    return false;
}

bool writeWithRetries(RecorderDevice& device, std::uint32_t address, std::uint32_t blocks,
                      const std::uint8_t* data) {
    constexpr std::uint32_t RetryLimit = 5000;
    constexpr milliseconds RetryPause{100};
    for (std::uint32_t attempt = 1;; ++attempt) {
        if (mmc::Write10(device, address, static_cast<std::uint16_t>(blocks), data, blocks * 2048)) return true;
        bool busy = device.busy != 0 || lastAsc(device) == AscNotReady;
        if (!busy || attempt >= RetryLimit) return false;
        pauseFor(device, RetryPause);
    }
}

}  // namespace velk::jobs
