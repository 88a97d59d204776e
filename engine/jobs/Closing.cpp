#include "engine/jobs/Closing.h"

#include "engine/core/EngineTypes.h"
#include "engine/core/Media.h"
#include "engine/device/MmcCommands.h"
#include "engine/jobs/RecorderWaits.h"

namespace velk::jobs {
namespace {

constexpr std::uint8_t CloseTrackFunction = 1;
constexpr std::uint8_t CloseSessionFunction = 2;
constexpr std::uint8_t EndBackgroundFormatFunction = 3;
constexpr std::uint8_t FinaliseFunction = 6;
constexpr std::uint16_t IncompleteTrack = 0x00FF;

bool closeTrack(RecorderDevice& device, std::uint32_t track, int immediate) {
    return mmc::CloseTrackSession(device, immediate, CloseTrackFunction, 0, static_cast<std::uint8_t>(track >> 8),
                                  static_cast<std::uint8_t>(track)) != 0;
}

bool closeSession(RecorderDevice& device, std::uint32_t number, int immediate) {
    return mmc::CloseTrackSession(device, immediate, CloseSessionFunction, 0, static_cast<std::uint8_t>(number >> 8),
                                  static_cast<std::uint8_t>(number)) != 0;
}

bool finaliseDisc(RecorderDevice& device) {
    return mmc::CloseTrackSession(device, 0, FinaliseFunction, 0, 0, 0) != 0;
}

// The waits after the cache of a CD: while the disc information answers
// "not ready", then while TEST UNIT READY does.
bool twoReadyWaits(RecorderDevice& device) {
    return waitWhileNotReady(device, CloseWaitLimit) && testUntilReady(device, CloseWaitLimit);
}

// Write parameters for the session's close: the next session allowed unless
// the disc is closed.
void setSessionParameters(RecorderDevice& device, std::uint8_t discType) {
    (void)mmc::SetWriteParameters(device, device.testWrite, device.underrunProtection, device.closeDisc == 0 ? 1 : 0,
                                  discType);
}

// The last closing command's failure is the job's error.
bool lastCommand(RecorderDevice& device, bool succeeded) {
    if (!succeeded) reportLastSense(device);
    return succeeded;
}

}  // namespace

bool closeMedium(RecorderDevice& device, std::uint8_t discType, std::uint32_t sessionsBefore) {
    const std::uint32_t n = sessionsBefore;
    const Medium& medium = mediumOf(discType);
    switch (medium.close) {
    case CloseFunctions::DvdMinusR:
        (void)mmc::SynchronizeCache(device, 0);
        (void)closeTrack(device, n + 1, 0);
        (void)closeTrack(device, n + 2, 0);
        return lastCommand(device, closeSession(device, n + 3, 0));
    case CloseFunctions::DvdPlusR:
        (void)mmc::SynchronizeCache(device, 0);
        (void)closeTrack(device, n + 1, 0);
        return lastCommand(device, device.closeDisc ? finaliseDisc(device) : closeSession(device, IncompleteTrack, 0));
    case CloseFunctions::DvdPlusRDualLayer:
        (void)mmc::SynchronizeCache(device, 0);
        (void)closeTrack(device, n + 1, 0);
        return lastCommand(device, device.closeDisc ? finaliseDisc(device) : closeSession(device, 0, 0));
    case CloseFunctions::DvdPlusRw:
        (void)mmc::SynchronizeCache(device, 0);
        return lastCommand(device, mmc::CloseTrackSession(device, 0, EndBackgroundFormatFunction, 0, 0x00,
                                                          static_cast<std::uint8_t>(IncompleteTrack)) != 0);
    case CloseFunctions::DvdMinusRw: {
        (void)mmc::SynchronizeCache(device, 0);
        (void)closeTrack(device, 1, 0);
        if (!lastCommand(device, closeSession(device, 0, 1))) return false;
        return waitWhileNotReady(device, CloseWaitLimit);
    }
    case CloseFunctions::Cd: {
        (void)mmc::SynchronizeCache(device, 1);
        if (!twoReadyWaits(device)) return false;
        setSessionParameters(device, discType);
        bool closed = closeSession(device, 0, 1) || closeTrack(device, IncompleteTrack, 1);
        return lastCommand(device, closed);
    }
    case CloseFunctions::Generic: {
        const bool hasSessions = medium.order != WriteOrder::Random;
        (void)mmc::SynchronizeCache(device, 1);
        if (hasSessions && !twoReadyWaits(device)) return false;
        if (!closeTrack(device, IncompleteTrack, 0)) (void)closeTrack(device, IncompleteTrack, 1);
        setSessionParameters(device, discType);
        bool closed = closeSession(device, 0, 1) || closeSession(device, 0, 0);
        // A disc without tracks or sessions (DVD-RAM): drives refuse to
        // close them, and nothing is left open.
        if (!hasSessions) return true;
        return lastCommand(device, closed);
    }
    }
    return false;
}

}  // namespace velk::jobs
