// The erase job through the virtual recorder's plugin: the commands of each
// medium's quick and full erase, the disc left blank, and the failures that
// reach the callback.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/api/BurnEngine.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;
using namespace std::chrono_literals;

// The commands of an erase that tell its media apart; runs of consecutive
// WRITEs become one "WRITE first..last (count)".
std::vector<std::string> eraseCommands(const std::vector<JournalLine>& lines) {
    auto name = [](const std::vector<std::uint8_t>& c) -> std::string {
        switch (c[0]) {
        case 0x04: return "FORMAT UNIT";
        case 0x35: return "SYNC";
        case 0x5B: return "CLOSE f" + std::to_string(c[2] & 0x07) + " t" + std::to_string((c[4] << 8) | c[5]);
        case 0xA1: return "BLANK " + std::to_string(c[1] & 0x1F);
        default: return "";
        }
    };
    return summariseJournal(lines, name, false, true);
}

struct EraseCase {
    const char* name;
    MediumKind kind;
    int mode;  // 1 quick, 0 full
    std::vector<std::string> commands;
    int failed;
};

void PrintTo(const EraseCase& c, std::ostream* out) { *out << c.name; }

class EraseJobTest : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseJobTest, SendsTheCommandsOfTheMediumAndCallsBackOnce) {
    const EraseCase& c = GetParam();
    VirtualBurn burn;
    burn.makeDisc(c.kind);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    Completion completion;
    EXPECT_EQ(burn.engine.StartErase(c.mode, &Completion::callback, &completion), 1);
    ASSERT_EQ(completion.wait(), c.failed) << burn.journalText();
    EXPECT_TRUE(waitForJobThreads(burn.engine.project()));
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_EQ(burn.engine.GetJobState(), JobIdle);
    EXPECT_EQ(eraseCommands(burn.journalLines()), c.commands);
    if (c.failed) {
        EXPECT_STRNE(burn.engine.GetLastErrorText(), "Unknown/No Error!");
    }
    // Erasing waits for the recorder: the polls after BLANK or FORMAT UNIT.
    burn.detach();
    ASSERT_TRUE(burn.openDisc());
}

INSTANTIATE_TEST_SUITE_P(
    EveryMedium, EraseJobTest,
    ::testing::Values(
        EraseCase{"CdRwQuick", MediumKind::CdRw, 1, {"BLANK 17"}, 0},
        EraseCase{"CdRwFull", MediumKind::CdRw, 0, {"BLANK 16"}, 0},
        EraseCase{"DvdRwQuick", MediumKind::DvdRwSequential, 1, {"BLANK 17"}, 0},
        EraseCase{"DvdRwRestrictedQuick", MediumKind::DvdRwRestricted, 1, {"BLANK 17"}, 0},
        EraseCase{"DvdRamQuick", MediumKind::DvdRam, 1, {"WRITE 0..4095 (128)", "SYNC"}, 0},
        EraseCase{"DvdRamFull", MediumKind::DvdRam, 0, {"FORMAT UNIT"}, 0},
        EraseCase{"DvdPlusRwQuick", MediumKind::DvdPlusRw, 1, {"FORMAT UNIT", "WRITE 0..511 (16)", "SYNC", "CLOSE f3 t0"},
                  0},
        EraseCase{"CdRRefusesBlank", MediumKind::CdR, 1, {"BLANK 17 (refused)"}, 1},
        EraseCase{"DvdPlusRRefusesBlank", MediumKind::DvdPlusR, 1, {"BLANK 17 (refused)"}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EraseStateTest, JobStateIsErasingWhileTheBlankRuns) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::CdRw);
    // A minimal blank takes 30 simulated seconds: 0.3 s here.
    ASSERT_NO_FATAL_FAILURE(burn.attach("", 100.0));
    Completion completion;
    ASSERT_EQ(burn.engine.StartErase(1, &Completion::callback, &completion), 1);
    EXPECT_EQ(burn.engine.GetJobState(), JobErasing);
    burn.engine.Abort();  // a burn's abort does not touch an erase
    ASSERT_EQ(completion.wait(), 0);
    EXPECT_EQ(burn.engine.GetJobState(), JobIdle);
}

TEST(EraseStateTest, EngineGoingAwayWaitsForTheErase) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdRam);
    Completion completion;
    {
        BurnEngine engine;
        ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
        ::setenv("VELK_VIRTUAL_DISCS", burn.disc.c_str(), 1);
        burn.detach();
        ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
        ASSERT_EQ(engine.SelectByIndex(0), 1);
        engine.device().pollTimeScale = VirtualBurn::DefaultScale;
        ASSERT_EQ(engine.StartErase(1, &Completion::callback, &completion), 1);
    }
    // The engine is gone: its erase has called back, successfully or stopped
    // between two writes.
    EXPECT_EQ(completion.calls(), 1);
}

}  // namespace
}  // namespace velk::testing
