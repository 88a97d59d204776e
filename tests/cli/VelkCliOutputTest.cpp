// What velk-cli image does to the files around it: the output never
// destroys data (a failed job leaves the old image as it was and no partial
// one), standard output is written directly, and an output that is one of
// the sources is refused before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t entriesIn(const TempDir& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

bool says(const CliRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

TEST(VelkCliOutputTest, AFailedImageLeavesTheOldOneAndNoPartialFile) {
    TempDir dir;
    dir.file("src/big.bin", std::string(1 << 20, 'b'));
    std::string image = dir.file("out.iso", "the old image");
    // A file-size limit of 100 KiB makes the write fail part way, as a full
    // disk would.
    CliRun run = velkCli("image -q -o " + shellQuoted(image) + " " + shellQuoted(dir.str() + "/src"), "ulimit -f 200;");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(says(run, "velk-cli: image: Error creating file \"" + image + "\": File too large")) << run.output;
    EXPECT_EQ(contentsOf(image), "the old image");
    EXPECT_EQ(entriesIn(dir), 2u) << "a temporary file was left beside the image";
}

TEST(VelkCliOutputTest, StandardOutputIsWrittenDirectly) {
    TempDir dir;
    dir.file("src/a.txt", "alpha");
    std::string piped = dir.str() + "/piped.iso";
    std::string messages = dir.str() + "/messages.txt";
    CliRun run = velkCli("image -o - " + shellQuoted(dir.str() + "/src") + " 2>" + shellQuoted(messages) + " | cat > " +
                         shellQuoted(piped));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(contentsOf(messages).find("-: "), std::string::npos) << contentsOf(messages);
    EXPECT_EQ(std::filesystem::file_size(piped) % 2048, 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.str() + "/-"));
    EXPECT_FALSE(std::filesystem::exists("-"));
    std::string listing = "xorriso -indev " + shellQuoted(piped) + " -find / 2>/dev/null | grep -q a.txt";
    EXPECT_EQ(std::system(listing.c_str()), 0);

    // Standard output sent to a file: the file gets the image, /dev/stdout
    // stays what it was.
    std::string redirected = dir.str() + "/redirected.iso";
    CliRun toFile = velkCli("image -o - " + shellQuoted(dir.str() + "/src") + " 2>/dev/null >" + shellQuoted(redirected));
    EXPECT_EQ(toFile.status, 0);
    EXPECT_EQ(std::filesystem::file_size(redirected), std::filesystem::file_size(piped));
    EXPECT_TRUE(std::filesystem::is_symlink("/dev/stdout"));
}

TEST(VelkCliOutputTest, AnOutputThatIsOneOfTheSourcesIsRefused) {
    TempDir dir;
    std::string source = dir.file("notes.txt", "my notes");
    CliRun run = velkCli("image -o " + shellQuoted(source) + " " + shellQuoted(source));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(says(run, "the output is one of the sources")) << run.output;
    EXPECT_EQ(contentsOf(source), "my notes");
}

}  // namespace
}  // namespace velk::testing
