// Verification after burning, through the virtual recorder's plugin: every
// block the burn wrote is read back with FUA and compared; a block that
// cannot be read fails the burn and is named; without verification the same
// fault goes unnoticed.
#include <gtest/gtest.h>

#include <set>

#include "engine/api/BurnEngine.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;

// Blocks covered by the good commands of `opcode` (FUA reads only for READ).
std::set<std::uint32_t> blocksOf(const std::vector<JournalLine>& lines, std::uint8_t opcode) {
    std::set<std::uint32_t> blocks;
    for (const JournalLine& line : lines) {
        const auto& c = line.cdb;
        if (line.opcode() != opcode || c.size() < 10 || !line.good()) continue;
        if (opcode == 0x28 && (c[1] & 0x08) == 0) continue;
        std::uint32_t lba = (std::uint32_t{c[2]} << 24) | (c[3] << 16) | (c[4] << 8) | c[5];
        std::uint32_t count = (c[7] << 8) | c[8];
        for (std::uint32_t b = 0; b < count; ++b) blocks.insert(lba + b);
    }
    return blocks;
}

int burnWithVerify(VirtualBurn& burn, const std::string& source, int verify) {
    burn.engine.ResetProject();
    burn.engine.SetVerify(verify);
    if (!burn.engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0)) return -1;
    if (burn.engine.PrepareImage() <= 0) return -1;
    Completion completion;
    if (burn.engine.StartBurn(&Completion::callback, &completion) != 1) return -1;
    int failed = completion.wait();
    EXPECT_EQ(completion.calls(), 1);
    return failed;
}

class VerifyMediumTest : public ::testing::TestWithParam<MediumKind> {};

TEST_P(VerifyMediumTest, ReadsBackExactlyTheWrittenBlocksWithFua) {
    VirtualBurn burn;
    burn.makeDisc(GetParam());
    std::string source = makeSourceTree(burn.dir);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    ASSERT_EQ(burnWithVerify(burn, source, 1), 0) << burn.engine.GetLastErrorText() << "\n" << burn.journalText();
    std::vector<JournalLine> journal = burn.journalLines();
    std::set<std::uint32_t> written = blocksOf(journal, 0x2A);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(blocksOf(journal, 0x28), written);
    EXPECT_EQ(static_cast<std::uint32_t>(burn.engine.GetBlocksVerified()), written.size());
    EXPECT_EQ(burn.engine.GetVerify(), 1);
    burn.engine.ResetProject();
    EXPECT_EQ(burn.engine.GetVerify(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryWritableMedium, VerifyMediumTest,
                         ::testing::Values(MediumKind::CdR, MediumKind::CdRw, MediumKind::DvdR,
                                           MediumKind::DvdRwSequential, MediumKind::DvdRwRestricted,
                                           MediumKind::DvdPlusR, MediumKind::DvdPlusRDl, MediumKind::DvdPlusRw,
                                           MediumKind::DvdRam),
                         [](const auto& info) {
                             std::string name;
                             for (char c : std::string(vrec::mediumInfo(info.param).name)) {
                                 if (c == '+') name += "plus";
                                 if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                             }
                             return name;
                         });

TEST(VerifyFaultTest, BadBlockFailsTheBurnAndIsNamedUnlessVerificationIsOff) {
    // A block the medium cannot give back, one it gives back wrong, and one
    // a WRITE stored wrong while it reported success.
    for (const char* fault : {"read:77:03/11/00", "corrupt:77", "corrupt-write:77"})
    for (int verify : {1, 0}) {
        SCOPED_TRACE(::testing::Message() << fault << (verify ? " verify on" : " verify off"));
        VirtualBurn burn;
        burn.makeDisc(MediumKind::DvdPlusR);
        std::string source = makeSourceTree(burn.dir);
        ASSERT_NO_FATAL_FAILURE(burn.attach(fault));
        int failed = burnWithVerify(burn, source, verify);
        if (verify) {
            EXPECT_EQ(failed, 1);
            EXPECT_STREQ(burn.engine.GetLastErrorText(), "Verification failed at block 77");
        } else {
            EXPECT_EQ(failed, 0);
        }
    }
}

TEST(VerifyFaultTest, TestWritesAndImageFilesAreNotReadBack) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::CdR);
    std::string source = makeSourceTree(burn.dir);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    burn.engine.SetTestWrite(1);
    ASSERT_EQ(burnWithVerify(burn, source, 1), 0);
    EXPECT_TRUE(blocksOf(burn.journalLines(), 0x28).empty());
}

}  // namespace
}  // namespace velk::testing
