// How the recording jobs wait for the recorder: pauses between polls, the
// "not ready" waits after long operations (format, blank, close) and the
// sense bytes they look at.
//
// Every wait has an upper bound long enough for the slowest real operation;
// a recorder that stays "not ready" past it fails the job instead of holding
// it for ever. Bounds count simulated time (polls x poll period), so a
// software recorder that runs its clock faster (pollTimeScale) is given the
// same time in its own clock.
#pragma once

#include <chrono>
#include <cstdint>

#include "engine/device/RecorderDevice.h"
#include "engine/device/Sense.h"

namespace velk::jobs {

using std::chrono::milliseconds;
using std::chrono::minutes;

// The poll period of the ready waits.
inline constexpr milliseconds ReadyPollPeriod{5000};
// Upper bounds of the ready waits.
inline constexpr minutes FormatWaitLimit{90};   // full format, full blank
inline constexpr minutes CloseWaitLimit{20};    // close track / session, finalise
inline constexpr minutes ReadyWaitLimit{20};    // any other wait

// Additional sense code and qualifier of the device's last command (0 after
// good status).
inline std::uint8_t lastAsc(const RecorderDevice& device) {
    return device::parseSense(device.lastSense, sizeof device.lastSense).asc;
}
inline std::uint8_t lastAscq(const RecorderDevice& device) {
    return device::parseSense(device.lastSense, sizeof device.lastSense).ascq;
}
inline constexpr std::uint8_t AscNotReady = 0x04;
inline constexpr std::uint8_t AscqBecomingReady = 0x01;

// Sleeps `period` of the recorder's time.
void pauseFor(RecorderDevice& device, milliseconds period);

// Makes the last command's sense the error the job reports, whether or not
// the job suppressed the latching of hardware errors. A command that never
// reached the drive reports ErrTransportFailure; otherwise, without sense
// data, the code stays as it is.
void reportLastSense(RecorderDevice& device);

// Makes a deferred error that a command of the job was answered with the
// job's error (see ExecuteCdb.h) and forgets it; false when there was none.
[[nodiscard]] bool reportDeferredError(RecorderDevice& device);

// How long a drive may say "becoming ready" (02/04/01, as just after a load)
// before the job or command goes on without it.
inline constexpr milliseconds BecomingReadyLimit{30000};

// TEST UNIT READY, and while it answers "becoming ready", a pause of the
// ready waits and again, up to BecomingReadyLimit of the recorder's time.
// The error code stays as it was unless the drive is still becoming ready at
// the end (false then). One command when the drive is ready.
[[nodiscard]] bool waitWhileBecomingReady(RecorderDevice& device);

// The command a ready wait polls with.
enum class ReadyProbe { DiscInformation, TestUnitReady };

// repeat { pause; READ DISC INFORMATION (42 bytes) or TEST UNIT READY }
// while the recorder answers "not ready". False (with the last sense
// reported) when it is still not ready after `limit`.
[[nodiscard]] bool waitWhileNotReady(RecorderDevice& device, minutes limit,
                                     ReadyProbe probe = ReadyProbe::DiscInformation);

// repeat { READ DISC INFORMATION (42 bytes); pause if "not ready" } while it
// answers "not ready": returns at once when the recorder is ready.
[[nodiscard]] bool pollUntilReady(RecorderDevice& device, minutes limit);

// repeat { TEST UNIT READY; pause if "not ready" } while it answers "not
// ready".
[[nodiscard]] bool testUntilReady(RecorderDevice& device, minutes limit);

// WRITE (10) of `blocks` blocks from `data` at `address`, sent again after
// 100 ms while the recorder is busy or not ready (a long write in progress),
// at most 5,000 times. False when it failed for good; the sense of that
// answer is in the device.
[[nodiscard]] bool writeWithRetries(RecorderDevice& device, std::uint32_t address, std::uint32_t blocks,
                                    const std::uint8_t* data);

}  // namespace velk::jobs
