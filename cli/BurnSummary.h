// What a finished burn reports: the numbers, and the summary line velk-cli
// prints from them. Every output form of the summary takes the same record,
// so the text and any other form cannot disagree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velk::cli {

struct BurnSummary {
    bool testWrite = false;
    std::uint32_t blocks = 0;
    double megabytes = 0;       // blocks of 2048 bytes, in MiB
    double writingSeconds = 0;  // the writer's part alone: the set-up and the close are left out
    double totalSeconds = 0;    // the whole job, from the start to the disc closed (and verified)
    double writingRate = 0;     // MB/s over writingSeconds
    double timesOneX = 0;       // writingRate as a multiple of the medium's 1x
    // Lowest fills in percent while data was streaming; nullopt when never
    // measured (a burn too short for a steady part, a drive that does not
    // report its buffer).
    std::optional<int> lowestRingFill;
    std::optional<int> lowestDriveFill;
    // Times the drive's buffer ran empty during this burn; nullopt when the
    // recorder does not tell (a real drive).
    std::optional<std::uint32_t> underruns;
    std::optional<std::uint32_t> verifiedBlocks;
};

// "burned 320 blocks (0.6 MB): 22.4 MB/s writing (16.2x), 13.1 s in all;
// lowest ring buffer fill 87%, lowest drive buffer fill not measured;
// 0 underruns", and "verified N blocks" on a line of its own; each line ends
// with a newline.
std::string burnSummaryText(const BurnSummary& summary);

}  // namespace velk::cli
