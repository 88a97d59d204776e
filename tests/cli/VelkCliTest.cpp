// velk-cli as a user runs it: exit codes, the image it writes and what the
// virtual-disc commands print.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

TEST(VelkCliTest, ImageOfAFolderIsWrittenAndSummarised) {
    TempDir dir;
    dir.file("src/a.txt", "alpha");
    dir.file("src/sub/b.bin", std::string(5000, 'b'));
    std::string image = dir.str() + "/out.iso";
    CliRun run = velkCli("image --label TEST -o " + shellQuoted(image) + " " + shellQuoted(dir.str() + "/src"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("2 files in 2 folders"), std::string::npos) << run.output;
    ASSERT_TRUE(std::filesystem::exists(image));
    EXPECT_EQ(std::filesystem::file_size(image) % (32 * 2048), 0u);
}

TEST(VelkCliTest, ExitCodes) {
    TempDir dir;
    dir.file("a.txt", "a");
    // With --keep-path the first folder of the source path is a folder on the disc.
    const std::string keptPathFolder = "\n  " + std::next(dir.path().begin())->string() + "/  [iso ";
    struct Case {
        std::string arguments;
        int status;
        const char* says;
    } cases[] = {
        {"", 2, ""},
        {"image " + shellQuoted(dir.str() + "/a.txt"), 2, "--output is required"},
        {"image -o x.iso --buffer-size lots " + shellQuoted(dir.str()), 2, ""},
        {"image -o /nonexistent-velk/out.iso " + shellQuoted(dir.str()), 1,
         "Error creating file \"/nonexistent-velk/out.iso\""},
        {"image -o " + shellQuoted(dir.str() + "/o.iso") + " " + shellQuoted(dir.str() + "/missing"), 1,
         "no such file or folder"},
        {"image -o " + shellQuoted(dir.str() + "/o.iso") + " --boot " + shellQuoted(dir.str() + "/a.txt") + " " +
             shellQuoted(dir.str() + "/a.txt"),
         1, "cannot be used as a boot image"},
        {"tree " + shellQuoted(dir.str()), 0, "a.txt  [iso A.TXT, joliet a.txt, 1 bytes]"},
        {"tree --keep-path " + shellQuoted(dir.str()), 0, keptPathFolder.c_str()},
    };
    for (const Case& c : cases) {
        CliRun run = velkCli(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << "\n" << run.output;
    }
}

TEST(VelkCliTest, VirtualDiscCreateShowExport) {
    TempDir dir;
    std::string disc = dir.str() + "/blank.vdisc";
    CliRun created = velkCli("vdisc create --medium dvd+r --blocks 5000 " + shellQuoted(disc));
    ASSERT_EQ(created.status, 0) << created.output;
    CliRun shown = velkCli("vdisc show " + shellQuoted(disc));
    EXPECT_EQ(shown.status, 0) << shown.output;
    EXPECT_NE(shown.output.find("DVD+R"), std::string::npos) << shown.output;
    EXPECT_NE(shown.output.find("blank"), std::string::npos) << shown.output;
    CliRun bad = velkCli("vdisc create --medium floppy " + shellQuoted(dir.str() + "/x.vdisc"));
    EXPECT_EQ(bad.status, 2) << bad.output;
}

}  // namespace
}  // namespace velk::testing
