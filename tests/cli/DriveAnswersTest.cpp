// What velk-cli says when the recorder answers as real drives do: a drive
// still becoming ready after a load, a command lost between host and drive.
#include <gtest/gtest.h>

#include <string>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

class DriveAnswersCliTest : public ::testing::Test {
protected:
    std::string newDisc(const std::string& medium) {
        std::string disc = dir_.str() + "/" + medium + ".vdisc";
        CliRun made = velkCli("vdisc create --medium " + medium + " " + shellQuoted(disc));
        EXPECT_EQ(made.status, 0) << made.output;
        return disc;
    }
    std::string source() {
        dir_.file("src/readme.txt", "hello disc\n");
        return dir_.str() + "/src";
    }
    TempDir dir_;
};

// Regression: a drive that answers 02/04/01 (becoming ready) for a while
// after a load was reported as having no disc.
TEST_F(DriveAnswersCliTest, BecomingReadyAfterALoadIsWaitedForNotTakenForNoDisc) {
    std::string disc = newDisc("cd-r");
    // 25 simulated seconds are a quarter of a second: longer than velk-cli
    // takes to reach its first command that needs the disc.
    const std::string drive = "VELK_VIRTUAL_TIME_SCALE=100 VELK_VIRTUAL_FAULTS=becoming-ready:25";
    CliRun info = velkCli("info --virtual " + shellQuoted(disc), drive);
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("disc type: 2 CD-R"), std::string::npos) << info.output;

    CliRun burned = velkCli("burn --virtual " + shellQuoted(disc) + " " + shellQuoted(source()), drive);
    EXPECT_EQ(burned.status, 0) << burned.output;
    EXPECT_EQ(burned.output.find("no disc"), std::string::npos) << burned.output;
}

// Regression: a WRITE that never reached the drive (the host adapter failed
// it, no sense data) was reported as a hardware error of code 0.
TEST_F(DriveAnswersCliTest, ACommandLostInTheTransportIsNamedAsSuch) {
    std::string disc = newDisc("dvd+r");
    CliRun burned = velkCli("burn --virtual " + shellQuoted(disc) + " " + shellQuoted(source()),
                            "VELK_VIRTUAL_TIME_SCALE=1000000 VELK_VIRTUAL_FAULTS=transport:2A:1");
    EXPECT_EQ(burned.status, 1) << burned.output;
    EXPECT_NE(burned.output.find("velk-cli: burn: Transport failure: the command did not reach the recorder "
                                 "(host adapter status 11h)"),
              std::string::npos)
        << burned.output;
    EXPECT_EQ(burned.output.find("Hardware Error"), std::string::npos) << burned.output;
}

}  // namespace
}  // namespace velk::testing
