// velk-cli burn --verify and velk-cli compare against virtual discs: a burn
// that reads back what it wrote, and a disc session held against the folder
// it was made from.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

const std::string Fast = "VELK_VIRTUAL_TIME_SCALE=1000000";

std::string makeDisc(const TempDir& dir, const char* medium) {
    std::string disc = dir.str() + "/disc.vdisc";
    CliRun made = velkCli(std::string("vdisc create --medium ") + medium + " " + shellQuoted(disc));
    EXPECT_EQ(made.status, 0) << made.output;
    return disc;
}

void fillSource(const TempDir& dir) {
    dir.file("src/readme.txt", "read me\n");
    dir.file("src/empty.dat", "");
    dir.file("src/sub/data.bin", std::string(150000, 'd'));
}

bool says(const CliRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

TEST(VelkCliVerifyTest, BurnReadsBackWhatItWroteAndNamesABadBlock) {
    TempDir dir;
    fillSource(dir);
    std::string source = shellQuoted(dir.str() + "/src");
    std::string disc = makeDisc(dir, "dvd+r");
    CliRun good = velkCli("burn --verify -q --virtual " + shellQuoted(disc) + " " + source, Fast);
    EXPECT_EQ(good.status, 0) << good.output;
    EXPECT_TRUE(says(good, "verified ")) << good.output;

    // The medium gives block 40 back wrong: the burn fails naming it; without
    // --verify the same disc is reported burned.
    for (bool verify : {true, false}) {
        std::string other = dir.str() + (verify ? "/bad.vdisc" : "/unchecked.vdisc");
        ASSERT_EQ(velkCli("vdisc create --medium cd-r " + shellQuoted(other)).status, 0);
        CliRun run = velkCli(std::string("burn -q ") + (verify ? "--verify " : "") + "--virtual " + shellQuoted(other) +
                                 " " + source,
                             Fast + " VELK_VIRTUAL_FAULTS=corrupt:40");
        if (verify) {
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_TRUE(says(run, "velk-cli: burn: Verification failed at block 40")) << run.output;
        } else {
            EXPECT_EQ(run.status, 0) << run.output;
        }
    }
}

TEST(VelkCliVerifyTest, CompareFindsChangedAddedAndMissingFiles) {
    TempDir dir;
    fillSource(dir);
    std::string folder = dir.str() + "/src";
    std::string disc = makeDisc(dir, "cd-r");
    std::string virtualDisc = " --virtual " + shellQuoted(disc) + " ";
    ASSERT_EQ(velkCli("burn -q" + virtualDisc + shellQuoted(folder), Fast).status, 0);

    CliRun same = velkCli("compare" + virtualDisc + shellQuoted(folder), Fast);
    EXPECT_EQ(same.status, 0) << same.output;
    EXPECT_TRUE(says(same, "3 files match, 0 differ, 0 missing on the disc, 0 only on the disc")) << same.output;

    dir.file("src/sub/data.bin", std::string(149999, 'd') + "X");  // same size, one byte changed
    dir.file("src/added.txt", "new");
    std::filesystem::remove(folder + "/empty.dat");
    CliRun changed = velkCli("compare" + virtualDisc + shellQuoted(folder), Fast);
    EXPECT_EQ(changed.status, 1) << changed.output;
    EXPECT_TRUE(says(changed, "differs: /sub/data.bin: contents differ from byte 149999")) << changed.output;
    EXPECT_TRUE(says(changed, "missing on the disc: /added.txt")) << changed.output;
    EXPECT_TRUE(says(changed, "only on the disc: /empty.dat")) << changed.output;

    // An appended session holds the folder as it is now; the first session
    // still holds it as it was.
    ASSERT_EQ(velkCli("burn -q --no-import" + virtualDisc + shellQuoted(folder), Fast).status, 0);
    EXPECT_EQ(velkCli("compare" + virtualDisc + shellQuoted(folder), Fast).status, 0);
    CliRun first = velkCli("compare --session 1" + virtualDisc + shellQuoted(folder), Fast);
    EXPECT_EQ(first.status, 1) << first.output;
    EXPECT_TRUE(says(first, "session 1:")) << first.output;
}

TEST(VelkCliVerifyTest, CompareOfABlankDiscFails) {
    TempDir dir;
    fillSource(dir);
    std::string disc = makeDisc(dir, "dvd-r");
    CliRun run = velkCli("compare --virtual " + shellQuoted(disc) + " " + shellQuoted(dir.str() + "/src"), Fast);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(says(run, "velk-cli: compare: the disc holds no session with files")) << run.output;
}

}  // namespace
}  // namespace velk::testing
