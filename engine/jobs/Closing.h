// Closing a recorded medium after the data of a job: the track, the session
// and, when the device's close-disc switch is on, the disc, each in the way
// its medium requires.
//
//   DVD-R            SYNCHRONIZE CACHE; close track n+1; close track n+2;
//                    close session n+3
//   DVD+R            SYNCHRONIZE CACHE; close track n+1; finalise (close
//                    function 6) or close session 00FFh
//   DVD+R DL         SYNCHRONIZE CACHE; close track n+1; finalise or close
//                    session 0
//   DVD+RW           SYNCHRONIZE CACHE; close function 3 (end the
//                    background format), track 00FFh
//   DVD-RW           SYNCHRONIZE CACHE; close track 1; close session 0
//                    (Immed) and wait while not ready
//   CD-R, CD-RW      SYNCHRONIZE CACHE (Immed); the two ready waits; write
//                    parameters with the next session allowed unless the disc
//                    is closed; close session 0 (Immed), else close track
//                    00FFh (Immed)
//   any other        SYNCHRONIZE CACHE (Immed); the two ready waits (not on
//                    DVD-RAM); close track 00FFh, else again with Immed; write
//                    parameters as for CD; close session 0 (Immed), else
//                    without Immed
//
// n is the number of complete sessions before the burn. Closing commands
// that fail are passed over, but the closing fails when the medium's last
// closing command fails together with its fall-back (not on DVD-RAM, which
// has nothing to close), or a ready wait runs
// past its bound; the recorder's sense of that failure becomes the job's
// error code.
#pragma once

#include <cstdint>

#include "engine/device/RecorderDevice.h"

namespace velk::jobs {

[[nodiscard]] bool closeMedium(RecorderDevice& device, std::uint8_t discType, std::uint32_t sessionsBefore);

}  // namespace velk::jobs
