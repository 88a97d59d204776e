// velk-cli ls and the append helpers of the burn command, on virtual discs
// that the engine burned session by session.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/CliRun.h"
#include "cli/SessionCommands.h"
#include "engine/api/BurnEngine.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;

// Burns the content of `folder` as the next session, importing the last one
// first when `import`.
void burnSession(VirtualBurn& burn, const std::string& folder, bool import) {
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    BurnEngine& engine = burn.engine;
    engine.ResetProject();
    if (import) engine.ImportSession(0, "\\");
    engine.SetReplaceExisting(1);
    ASSERT_TRUE(engine.AddDirectory("\\", folder.c_str(), "*.*", 1, 0));
    ASSERT_GT(engine.PrepareImage(), 0);
    Completion completion;
    ASSERT_EQ(engine.StartBurn(&Completion::callback, &completion), 1);
    ASSERT_EQ(completion.wait(), 0) << burn.journalText();
    burn.detach();
}

// A CD-R with two sessions: the first holds Docs/b.txt and a.txt (a
// folder's subfolders come first), the second adds c.txt to them.
void makeTwoSessionDisc(VirtualBurn& burn) {
    burn.dir.file("s1/a.txt", "first");
    burn.dir.file("s1/Docs/b.txt", std::string(3000, 'b'));
    burn.dir.file("s2/c.txt", "third file");
    burn.makeDisc(MediumKind::CdR);
    ASSERT_NO_FATAL_FAILURE(burnSession(burn, burn.dir.str() + "/s1", false));
    ASSERT_NO_FATAL_FAILURE(burnSession(burn, burn.dir.str() + "/s2", true));
}

std::string captured(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, file)) text += buffer;
    return text;
}

// Lines of an ls listing without their date column.
std::string withoutDates(const std::string& listing) {
    std::string out;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        std::string line = listing.substr(start, end - start);
        std::size_t second = line.find('\t', line.find('\t') + 1);
        out += (second == std::string::npos ? line : line.substr(0, second)) + "\n";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

TEST(SessionCommandsTest, LsListsTheLastOrTheAskedSessionWithSizesAndDates) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    ASSERT_NO_FATAL_FAILURE(makeTwoSessionDisc(burn));
    const std::string disc = "--virtual " + shellQuoted(burn.disc);

    CliRun last = velkCli("ls " + disc);
    ASSERT_EQ(last.status, 0) << last.output;
    EXPECT_EQ(withoutDates(last.output),
              "session 2\n/Docs/\t0\n/Docs/b.txt\t3000\n/a.txt\t5\n/c.txt\t10\n");
    EXPECT_NE(last.output.find("/a.txt\t5\t20"), std::string::npos) << "a date follows the size";

    CliRun first = velkCli("ls --session 1 " + disc);
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_EQ(withoutDates(first.output), "session 1\n/Docs/\t0\n/Docs/b.txt\t3000\n/a.txt\t5\n");

    CliRun missing = velkCli("ls --session 3 " + disc);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("the disc has 2 sessions"), std::string::npos) << missing.output;
}

TEST(SessionCommandsTest, LsOfABlankDiscFails) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(MediumKind::CdR);
    CliRun run = velkCli("ls --virtual " + shellQuoted(burn.disc));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("velk-cli: ls: the disc holds no session"), std::string::npos) << run.output;
}

TEST(SessionCommandsTest, AppendImportKeepsTheDiscsFilesAndListsTheReplacedOnes) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    ASSERT_NO_FATAL_FAILURE(makeTwoSessionDisc(burn));
    burn.dir.file("new/a.txt", "a replacement");
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    BurnEngine& engine = burn.engine;

    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    engine.ResetProject();
    cli::AppendImport import = cli::importForAppend(engine, false, out);
    EXPECT_EQ(import.session, 2);
    EXPECT_EQ(engine.GetReplaceExisting(), 1);
    ASSERT_TRUE(engine.AddFile("\\", (burn.dir.str() + "/new/a.txt").c_str()));
    EXPECT_EQ(cli::printReplacedFiles(import, out), 1);
    EXPECT_EQ(captured(out), "appending session 3; keeping 3 files of the disc\nreplacing /a.txt\n");
    std::fclose(out);

    out = std::tmpfile();
    engine.ResetProject();
    cli::AppendImport none = cli::importForAppend(engine, true, out);
    EXPECT_EQ(none.session, 0);
    EXPECT_EQ(engine.GetFileCount(), 0);
    EXPECT_EQ(captured(out), "warning: --no-import: the files already on the disc will no longer be visible\n");
    std::fclose(out);

    out = std::tmpfile();
    cli::printSessionList(engine, out);
    const std::string sessions = captured(out);
    std::fclose(out);
    EXPECT_EQ(sessions.rfind("session 1: start 0, size ", 0), 0u) << sessions;
    EXPECT_NE(sessions.find("\nsession 2: start "), std::string::npos) << sessions;
}

TEST(SessionCommandsTest, AppendImportOnABlankDiscSaysNothing) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(MediumKind::DvdPlusR);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    std::FILE* out = std::tmpfile();
    burn.engine.ResetProject();
    for (bool noImport : {false, true}) {
        cli::AppendImport import = cli::importForAppend(burn.engine, noImport, out);
        EXPECT_EQ(import.session, 0);
        EXPECT_TRUE(import.files.empty());
    }
    EXPECT_EQ(captured(out), "");
    std::fclose(out);
}

// A drive that refuses READ TRACK INFORMATION (QEMU's CD/DVD-ROM does) still
// has a table of contents: ls, info and compare find both sessions by it.
TEST(SessionCommandsTest, SessionsAreFoundByTheTableOfContentsWhenTrackInformationIsRefused) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    ASSERT_NO_FATAL_FAILURE(makeTwoSessionDisc(burn));
    const std::string disc = "--virtual " + shellQuoted(burn.disc);
    const std::string refused = "VELK_VIRTUAL_FAULTS=no-read-track-info";

    CliRun last = velkCli("ls " + disc, refused);
    ASSERT_EQ(last.status, 0) << last.output;
    EXPECT_EQ(withoutDates(last.output), "session 2\n/Docs/\t0\n/Docs/b.txt\t3000\n/a.txt\t5\n/c.txt\t10\n");
    CliRun first = velkCli("ls --session 1 " + disc, refused);
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_EQ(withoutDates(first.output), "session 1\n/Docs/\t0\n/Docs/b.txt\t3000\n/a.txt\t5\n");

    // The sessions info lists are those the track information gives.
    auto sessionLines = [](const std::string& info) {
        std::string lines;
        for (std::size_t at = info.find("\nsession "); at != std::string::npos; at = info.find("\nsession ", at + 1)) {
            lines += info.substr(at + 1, info.find('\n', at + 1) - at);
        }
        return lines;
    };
    CliRun info = velkCli("info " + disc);
    CliRun infoRefused = velkCli("info " + disc, refused);
    ASSERT_EQ(infoRefused.status, 0) << infoRefused.output;
    EXPECT_NE(sessionLines(info.output).find("session 2: start "), std::string::npos) << info.output;
    EXPECT_EQ(sessionLines(infoRefused.output), sessionLines(info.output));

    CliRun compare = velkCli("compare --session 1 " + disc + " " + shellQuoted(burn.dir.str() + "/s1"), refused);
    EXPECT_EQ(compare.status, 0) << compare.output;
}

}  // namespace
}  // namespace velk::testing
