// Appending through the virtual recorder's plugin: three sessions on every
// medium that takes sessions, three growths of the volume on every medium
// that is overwritten in place. Each burn imports the last session, adds
// files, replaces one earlier file and keeps the rest; the disc is exported
// and independent readers given the last session's start see the merged
// tree byte for byte (on grown media also from the disc's start, UDF
// included). Sessions made by other tools are imported whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
#include <string>

#include "engine/api/BurnEngine.h"
#include "engine/image/ImageProject.h"
#include "engine/image/SourceTree.h"
#include "platform/Text.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;

std::string runCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        if (::pclose(pipe) != 0 && output.empty()) output = "failed: " + command;
    }
    return output;
}

// The session at `start` of the exported disc against `want`; empty when
// every reader agrees.
std::string sessionReadersDisagree(const std::string& image, std::uint32_t start, const std::string& want) {
    return runCommand("/usr/bin/python3 '" + std::string(VELK_SOURCE_DIR) + "/tests/jobs/read_session.py' '" + image +
                      "' " + std::to_string(start) + " '" + want + "'");
}

// Copies the files of `from` over `into` (folders merged, files replaced).
void mergeInto(const std::string& from, const std::string& into) {
    std::filesystem::copy(from, into,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

struct Appending {
    const char* name;
    MediumKind kind;
    bool grown;  // one volume grown in place (else a session per burn)
};

const Appending AppendingMedia[] = {
    {"CdR", MediumKind::CdR, false},
    {"DvdMinusR", MediumKind::DvdR, false},
    {"DvdPlusR", MediumKind::DvdPlusR, false},
    {"DvdPlusRDl", MediumKind::DvdPlusRDl, false},
    {"DvdPlusRw", MediumKind::DvdPlusRw, true},
    {"DvdRam", MediumKind::DvdRam, true},
    {"DvdMinusRwRestricted", MediumKind::DvdRwRestricted, true},
};

void PrintTo(const Appending& medium, std::ostream* out) { *out << medium.name; }

// Imports the disc's last session (when `import`), adds the folder's content
// with replaceExisting on and burns; the callback's `failed`, -1 when the
// burn did not start or never ended.
int appendFolder(VirtualBurn& burn, const std::string& folder, bool import, int* sessionUsed = nullptr) {
    BurnEngine& engine = burn.engine;
    engine.ResetProject();
    if (import) {
        int used = engine.ImportSession(0, "\\");
        if (sessionUsed) *sessionUsed = used;
    }
    engine.SetReplaceExisting(1);
    engine.SetVolumeLabel("APPENDED");
    if (!engine.AddDirectory("\\", folder.c_str(), "*.*", 1, 0)) return -1;
    if (engine.PrepareImage() <= 0) return -1;
    Completion completion;
    if (engine.StartBurn(&Completion::callback, &completion) != 1) return -1;
    return completion.wait();
}

class MultisessionTest : public ::testing::TestWithParam<Appending> {};

TEST_P(MultisessionTest, ThreeBurnsKeepAddAndReplaceFilesEveryReaderSeesTheMergedTree) {
    const Appending& medium = GetParam();
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(medium.kind);
    const TempDir& dir = burn.dir;
    // Round 1 makes the tree, rounds 2 and 3 add to it and replace a file.
    dir.file("r1/keep.txt", "kept from the first session\n");
    dir.file("r1/replace me.txt", "first version\n");
    dir.file("r1/Música/Καλημέρα.txt", "greek and spanish");
    dir.file("r1/data/old.bin", std::string(70000, 'o'));
    dir.file("r1/empty.dat", "");
    dir.file("r2/second.txt", "added by the second session\n");
    dir.file("r2/replace me.txt", "second version, a little longer\n");
    dir.file("r2/Música/nuevo.txt", "a new file in an old folder");
    dir.file("r3/data/old.bin", std::string(150000, 'n'));
    dir.file("r3/third/deep/file.txt", "third");
    const std::string want = dir.str() + "/want";
    std::filesystem::create_directories(want);

    std::uint32_t lastStart = 0;
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("burn " + std::to_string(round));
        const std::string folder = dir.str() + "/r" + std::to_string(round);
        mergeInto(folder, want);
        ASSERT_NO_FATAL_FAILURE(burn.attach());
        int sessionUsed = -1;
        ASSERT_EQ(appendFolder(burn, folder, round > 1, &sessionUsed), 0)
            << burn.engine.GetLastErrorText() << "\n" << burn.journalText();
        if (round > 1) {
            EXPECT_EQ(sessionUsed, medium.grown ? 1 : round - 1);
        }
        const std::uint32_t start = burn.engine.project().plan.startLba;
        if (round > 1) {
            EXPECT_GT(start, lastStart) << "each burn goes after the last";
        }
        lastStart = start;

        const std::string image = burn.exportSession();
        EXPECT_EQ(sessionReadersDisagree(image, start, want), "");
        if (medium.grown) {
            // The grown volume is what a reader finds at the disc's start,
            // through its ISO 9660 and its UDF structures.
            EXPECT_EQ(readersDisagree(image, want), "");
        }
        auto store = burn.openDisc();
        ASSERT_TRUE(store);
        if (!medium.grown) {
            EXPECT_EQ(store->layout().closedSessions, static_cast<std::uint32_t>(round));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AppendingMedia, MultisessionTest, ::testing::ValuesIn(AppendingMedia),
                         [](const auto& info) { return std::string(info.param.name); });

// The names of the entries directly in `folder`, in order.
std::vector<std::string> childNames(const FolderNode& folder) {
    std::vector<std::string> names;
    for (const FileItem* child = folder.firstChild; child; child = child->next) {
        names.push_back(platform::toUtf8(child->folder ? child->folder->longName : child->jolietName));
    }
    return names;
}

TEST(ImportSessionTest, TheAskedSessionGoesIntoTheTreeFolderAMissingFolderMeansTheRoot) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(MediumKind::DvdPlusR);
    burn.dir.file("s1/one.txt", "1");
    burn.dir.file("s2/two.txt", "2");
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    ASSERT_EQ(appendFolder(burn, burn.dir.str() + "/s1", false), 0);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    ASSERT_EQ(appendFolder(burn, burn.dir.str() + "/s2", true), 0);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    BurnEngine& engine = burn.engine;
    ImageProject& project = engine.project();
    const std::int32_t closeAfterCommand = engine.device().closeAfterCommand;

    engine.ResetProject();
    ASSERT_TRUE(engine.CreateFolder("\\", "first"));
    EXPECT_EQ(engine.ImportSession(1, "\\first"), 1);
    EXPECT_EQ(engine.ImportSession(0, "\\no such folder"), 2) << "0 is the last session";
    EXPECT_EQ(childNames(*project.root), (std::vector<std::string>{"first", "one.txt", "two.txt"}));
    EXPECT_EQ(childNames(*findFolder(project, u"\\first")), (std::vector<std::string>{"one.txt"}));
    EXPECT_EQ(engine.GetJobState(), JobIdle);
    EXPECT_EQ(engine.device().closeAfterCommand, closeAfterCommand);
    EXPECT_EQ(engine.GetLastErrorCode(), 0);

    // A session that does not exist imports nothing.
    engine.ResetProject();
    EXPECT_EQ(engine.ImportSession(7, "\\"), 7);
    EXPECT_EQ(engine.GetFileCount(), 0);
}

// A first session from another tool, burned from its image file to an
// appendable CD-R, then one appended session that imports it.
struct ForeignTool {
    const char* name;
    const char* command;  // %s: image, source
    bool upperCaseNames;  // only a primary tree: its names are ISO names
};

const ForeignTool ForeignTools[] = {
    {"GenisoimageJoliet", "genisoimage -quiet -J -V FOREIGN -o '%s' '%s'", false},
    {"GenisoimagePlainIso", "genisoimage -quiet -V FOREIGN -o '%s' '%s'", true},
    {"XorrisoJoliet", "xorriso -as mkisofs -quiet -J -V FOREIGN -o '%s' '%s'", false},
};

void PrintTo(const ForeignTool& tool, std::ostream* out) { *out << tool.name; }

class ForeignSessionTest : public ::testing::TestWithParam<ForeignTool> {};

TEST_P(ForeignSessionTest, EveryFileOfTheForeignSessionIsKeptByTheAppendedOne) {
    const ForeignTool& tool = GetParam();
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(MediumKind::CdR);
    const TempDir& dir = burn.dir;
    if (tool.upperCaseNames) {
        dir.file("foreign/README.TXT", "made by another tool\n");
        dir.file("foreign/DOCS/NOTE.TXT", std::string(5000, 'x'));
        dir.file("foreign/DOCS/SUB/DEEP.BIN", std::string(30000, 'd'));
    } else {
        dir.file("foreign/Read me first.txt", "made by another tool\n");
        dir.file("foreign/Docs/Notes in a long name.txt", std::string(5000, 'x'));
        dir.file("foreign/Docs/sub/deep.bin", std::string(30000, 'd'));
    }
    dir.file("added/new file.txt", "appended by the engine\n");
    const std::string foreignImage = dir.str() + "/foreign.iso";
    char command[1024];
    std::snprintf(command, sizeof command, tool.command, foreignImage.c_str(), (dir.str() + "/foreign").c_str());
    ASSERT_EQ(std::system(command), 0) << command;

    ASSERT_NO_FATAL_FAILURE(burn.attach());
    Completion first;
    ASSERT_EQ(burn.engine.StartBurnFromImage(foreignImage.c_str(), &Completion::callback, &first), 1);
    ASSERT_EQ(first.wait(), 0) << burn.journalText();

    ASSERT_NO_FATAL_FAILURE(burn.attach());
    ASSERT_EQ(appendFolder(burn, dir.str() + "/added", true), 0) << burn.journalText();
    EXPECT_EQ(burn.engine.GetFileCount(), 4 + 2);  // four files, two folders
    const std::uint32_t start = burn.engine.project().plan.startLba;
    EXPECT_GT(start, 0u);

    const std::string want = dir.str() + "/want";
    mergeInto(dir.str() + "/foreign", want);
    mergeInto(dir.str() + "/added", want);
    EXPECT_EQ(sessionReadersDisagree(burn.exportSession(), start, want), "");
}

// A volume another tool wrote to a DVD+RW keeps file data a few blocks
// after its descriptors; growing it rewrites the disc's descriptors and
// nothing of that data.
TEST(ForeignVolumeTest, GrowingAForeignVolumeLeavesItsDataBelowBlock32Intact) {
    VirtualBurn burn;
    ASSERT_TRUE(burn.pluginLoaded());
    burn.makeDisc(MediumKind::DvdPlusRw);
    const TempDir& dir = burn.dir;
    dir.file("foreign/a.txt", "first file of the foreign volume\n");
    dir.file("foreign/b.txt", "second\n");
    dir.file("added/new.txt", "grown by the engine\n");
    const std::string foreignImage = dir.str() + "/foreign.iso";
    ASSERT_EQ(std::system(("genisoimage -quiet -J -no-pad -o '" + foreignImage + "' '" + dir.str() + "/foreign'").c_str()), 0);
    {
        std::ifstream in(foreignImage, std::ios::binary);
        std::vector<std::uint8_t> volume((std::istreambuf_iterator<char>(in)), {});
        ASSERT_LE(volume.size(), 32u * 2048) << "the test wants file data below block 32";
        auto store = burn.openDisc();
        store->layout().formatOverwritable(MediumKind::DvdPlusRw, 0);
        ASSERT_FALSE(store->writeSessionDirect(volume, true).has_value());
    }
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    ASSERT_EQ(appendFolder(burn, dir.str() + "/added", true), 0) << burn.journalText();
    const std::string want = dir.str() + "/want";
    mergeInto(dir.str() + "/foreign", want);
    mergeInto(dir.str() + "/added", want);
    // The old volume had no UDF bridge: its block 256 holds no anchor to
    // point at the grown one, so only the ISO 9660 side is read.
    EXPECT_EQ(readersDisagree(burn.exportSession(), want, false), "");
}

INSTANTIATE_TEST_SUITE_P(OtherTools, ForeignSessionTest, ::testing::ValuesIn(ForeignTools),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::testing
