// The burn's summary line as velk-cli prints it from the numbers: what was
// never measured says so, the writing speed and the whole time are both
// given, and the underrun count appears only where the recorder tells it.
#include <gtest/gtest.h>

#include <string>

#include "cli/BurnSummary.h"

namespace velk::cli {
namespace {

BurnSummary aBurn() {
    BurnSummary summary;
    summary.blocks = 11488;
    summary.megabytes = 22.4375;
    summary.writingSeconds = 1.0;
    summary.totalSeconds = 13.14;
    summary.writingRate = 22.44;
    summary.timesOneX = 16.99;
    return summary;
}

TEST(BurnSummaryTest, Lines) {
    struct Case {
        const char* what;
        void (*change)(BurnSummary&);
        const char* text;
    } cases[] = {
        {"nothing measured, a real drive", [](BurnSummary&) {},
         "burned 11488 blocks (22.4 MB): 22.4 MB/s writing (17.0x), 13.1 s in all; lowest ring buffer fill not "
         "measured, lowest drive buffer fill not measured\n"},
        {"fills measured, no underrun",
         [](BurnSummary& s) {
             s.lowestRingFill = 87;
             s.lowestDriveFill = 0;
             s.underruns = 0;
         },
         "burned 11488 blocks (22.4 MB): 22.4 MB/s writing (17.0x), 13.1 s in all; lowest ring buffer fill 87%, "
         "lowest drive buffer fill 0%; 0 underruns\n"},
        {"one underrun, a test write",
         [](BurnSummary& s) {
             s.testWrite = true;
             s.lowestDriveFill = 40;
             s.underruns = 1;
         },
         "test-wrote 11488 blocks (22.4 MB): 22.4 MB/s writing (17.0x), 13.1 s in all; lowest ring buffer fill not "
         "measured, lowest drive buffer fill 40%; 1 underrun\n"},
        {"verified",
         [](BurnSummary& s) {
             s.underruns = 3;
             s.verifiedBlocks = 11488;
         },
         "burned 11488 blocks (22.4 MB): 22.4 MB/s writing (17.0x), 13.1 s in all; lowest ring buffer fill not "
         "measured, lowest drive buffer fill not measured; 3 underruns\nverified 11488 blocks\n"},
    };
    for (const Case& c : cases) {
        BurnSummary summary = aBurn();
        c.change(summary);
        EXPECT_EQ(burnSummaryText(summary), c.text) << c.what;
    }
}

}  // namespace
}  // namespace velk::cli
