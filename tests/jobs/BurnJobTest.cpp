// Burning through the virtual recorder's plugin, end to end: every writable
// medium gets a real folder, the session is exported and read back by
// independent readers, the recorder's journal shows the commands of the
// medium, and the disc is left appendable or finalised as asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/api/BurnEngine.h"
#include "engine/image/ImageProject.h"
#include "image/ImageTestSupport.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;
using namespace std::chrono_literals;

// The commands of a burn that tell its media apart, one string each; runs
// of consecutive WRITEs become one "WRITE first..last".
std::vector<std::string> significantCommands(const std::vector<JournalLine>& lines) {
    auto name = [](const std::vector<std::uint8_t>& c) -> std::string {
        switch (c[0]) {
        case 0x04: return "FORMAT UNIT";
        case 0x1B: return (c[4] & 0x03) == 0x03 ? "LOAD" : (c[4] & 0x03) == 0x02 ? "EJECT" : "";
        case 0x35: return (c[1] & 0x02) ? "SYNC immed" : "SYNC";
        case 0x53: return "RESERVE TRACK";
        case 0x54: return "SEND OPC";
        case 0x5B:
            return "CLOSE f" + std::to_string(c[2] & 0x07) + " t" + std::to_string((c[4] << 8) | c[5]) +
                   ((c[1] & 0x01) ? " immed" : "");
        case 0xA1: return std::string("BLANK ") + ((c[1] & 0x07) == 1 ? "minimal" : "full");
        case 0xB6: return "SET STREAMING";
        case 0xBF: return "SEND DVD STRUCTURE";
        default: return "";
        }
    };
    return summariseJournal(lines, name, true, false);
}

struct MediumCase {
    const char* name;
    MediumKind kind;
    bool formatted;   // an overwritable disc that already holds a format
    bool sequential;  // tracks and sessions (else one growing volume)
    bool cd;          // writes end with the stream's last short chunk
    // The significant commands; "E" stands for the image's last block and
    // the close-disc variants differ only in their closing.
    std::vector<std::string> appendable;
    std::vector<std::string> finalised;
};

const std::vector<std::string> CdSequence = {"SYNC", "WRITE 0..E", "SYNC immed", "CLOSE f2 t0 immed", "LOAD"};
const std::vector<std::string> DvdRwSequence = {"SYNC",    "SET STREAMING", "SYNC",         "WRITE 0..31",
                                                 "SYNC",    "WRITE 0..E",    "SYNC",         "CLOSE f1 t1",
                                                 "CLOSE f2 t0 immed", "LOAD"};
const std::vector<std::string> DvdPlusRwSequence = {"SYNC", "SET STREAMING", "SYNC",          "WRITE 0..31", "SYNC",
                                                     "WRITE 0..E", "SYNC",    "CLOSE f3 t255", "LOAD"};
const std::vector<std::string> DvdMinusRSequence = {"SYNC",        "SET STREAMING", "SEND DVD STRUCTURE",
                                                     "RESERVE TRACK", "WRITE 0..E",  "SYNC",
                                                     "CLOSE f1 t1", "CLOSE f1 t2",   "CLOSE f2 t3",
                                                     "LOAD"};
// A DVD-RAM has nothing to close: the drive refuses each closing command
// and its fall-back, and the burn still succeeds.
const std::vector<std::string> DvdRamSequence = {
    "SYNC", "SYNC", "WRITE 0..31", "SYNC", "WRITE 0..E", "SYNC immed", "CLOSE f1 t255 (refused)",
    "CLOSE f1 t255 immed (refused)", "CLOSE f2 t0 immed (refused)", "CLOSE f2 t0 (refused)", "LOAD"};

std::vector<std::string> with(std::vector<std::string> base, std::size_t at, const std::string& inserted) {
    base.insert(base.begin() + static_cast<std::ptrdiff_t>(at), inserted);
    return base;
}
std::vector<std::string> replaced(std::vector<std::string> base, const std::string& from, const std::string& to) {
    std::replace(base.begin(), base.end(), from, to);
    return base;
}

const MediumCase Media[] = {
    {"CdR", MediumKind::CdR, false, true, true, CdSequence, CdSequence},
    {"CdRw", MediumKind::CdRw, false, true, true, CdSequence, CdSequence},
    {"DvdR", MediumKind::DvdR, false, true, false, DvdMinusRSequence, DvdMinusRSequence},
    {"DvdRwSequential", MediumKind::DvdRwSequential, false, false, false, with(DvdRwSequence, 0, "FORMAT UNIT"),
     with(DvdRwSequence, 0, "FORMAT UNIT")},
    {"DvdRwRestricted", MediumKind::DvdRwRestricted, true, false, false, with(DvdRwSequence, 0, "FORMAT UNIT"),
     with(DvdRwSequence, 0, "FORMAT UNIT")},
    {"DvdPlusR", MediumKind::DvdPlusR, false, true, false,
     {"SYNC", "SET STREAMING", "WRITE 0..E", "SYNC", "CLOSE f1 t1", "CLOSE f2 t255", "LOAD"},
     {"SYNC", "SET STREAMING", "WRITE 0..E", "SYNC", "CLOSE f1 t1", "CLOSE f6 t0", "LOAD"}},
    {"DvdPlusRDl", MediumKind::DvdPlusRDl, false, true, false,
     {"SYNC", "SET STREAMING", "WRITE 0..E", "SYNC", "CLOSE f1 t1", "CLOSE f2 t0", "LOAD"},
     {"SYNC", "SET STREAMING", "WRITE 0..E", "SYNC", "CLOSE f1 t1", "CLOSE f6 t0", "LOAD"}},
    {"DvdPlusRwBlank", MediumKind::DvdPlusRw, false, false, false, with(DvdPlusRwSequence, 0, "FORMAT UNIT"),
     with(DvdPlusRwSequence, 0, "FORMAT UNIT")},
    {"DvdPlusRwFormatted", MediumKind::DvdPlusRw, true, false, false, DvdPlusRwSequence, DvdPlusRwSequence},
    {"DvdRam", MediumKind::DvdRam, true, false, false, DvdRamSequence, DvdRamSequence},
};

std::vector<std::string> expectedFor(std::vector<std::string> sequence, std::uint32_t lastBlock) {
    return replaced(std::move(sequence), "WRITE 0..E", "WRITE 0.." + std::to_string(lastBlock));
}

// Plans the folder into the engine's project and burns it; the callback's
// `failed`, or -1 when the burn did not start or never ended.
int burnFolder(VirtualBurn& burn, const std::string& source, Completion& completion) {
    BurnEngine& engine = burn.engine;
    engine.ResetProject();
    engine.SetVolumeLabel("BURN TEST");
    if (!engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0)) return -1;
    if (engine.PrepareImage() <= 0) return -1;
    if (engine.StartBurn(&Completion::callback, &completion) != 1) return -1;
    return completion.wait();
}

void PrintTo(const MediumCase& medium, std::ostream* out) { *out << medium.name; }

class BurnMediumTest : public ::testing::TestWithParam<std::tuple<MediumCase, bool>> {};

TEST_P(BurnMediumTest, BurnedSessionReadsBackWithTheMediumsCommands) {
    const auto& [medium, closeDisc] = GetParam();
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(medium.kind);
    if (medium.formatted && medium.kind == MediumKind::DvdPlusRw) {
        auto store = burn.openDisc();
        store->layout().formatOverwritable(MediumKind::DvdPlusRw, 0);
        ASSERT_TRUE(store->save());
    }
    std::string source = makeSourceTree(burn.dir);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    burn.engine.SetCloseDisc(closeDisc ? 1 : 0);

    Completion completion;
    ASSERT_EQ(burnFolder(burn, source, completion), 0)
        << burn.engine.GetLastErrorText() << "\n" << burn.journalText();
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_EQ(burn.engine.GetJobState(), JobIdle);
    const std::uint32_t imageBlocks = static_cast<std::uint32_t>(burn.engine.GetImageBlocks());
    EXPECT_EQ(static_cast<std::uint32_t>(burn.engine.GetBlocksWritten()), imageBlocks);

    // With UDF the stream always ends on a whole chunk (the closing anchor
    // fills its last block), so CDs and DVDs both write the whole image.
    std::vector<std::string> expected =
        expectedFor(closeDisc ? medium.finalised : medium.appendable, imageBlocks - 1);
    EXPECT_EQ(significantCommands(burn.journalLines()), expected);

    std::string image = burn.exportSession();
    EXPECT_EQ(readersDisagree(image, source), "");

    auto store = burn.openDisc();
    ASSERT_TRUE(store);
    const vrec::DiscLayout& layout = store->layout();
    if (medium.sequential) {
        EXPECT_EQ(layout.closedSessions, 1u);
        EXPECT_EQ(layout.finalized, closeDisc);
        EXPECT_EQ(layout.invisibleTrack() != nullptr, !closeDisc);
    } else {
        EXPECT_NE(layout.formattedBlocks, 0u);
        EXPECT_GE(layout.recordedEnd(), imageBlocks);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWritableMedium, BurnMediumTest,
                         ::testing::Combine(::testing::ValuesIn(Media), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Finalised" : "Appendable");
                         });

}  // namespace
}  // namespace velk::testing
