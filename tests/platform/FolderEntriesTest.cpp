// readFolderEntries leaves nothing out: links are flagged, entries that
// cannot be followed come with stat's reason, and a folder that cannot be
// opened says why.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/FindData.h"
#include "support/TempDir.h"

namespace velk::platform {
namespace {

using testing::TempDir;

TEST(FolderEntriesTest, EveryEntryWithWhatItIsAndWhyItCannotBeFollowed) {
    TempDir dir;
    dir.file("plain.txt", "p");
    dir.folder("sub");
    std::filesystem::create_symlink("plain.txt", dir.path() / "to-plain");
    std::filesystem::create_symlink("sub", dir.path() / "to-sub");
    std::filesystem::create_symlink("nowhere", dir.path() / "dangling");
    std::filesystem::create_symlink("loop", dir.path() / "loop");
    ASSERT_EQ(::mkfifo((dir.str() + "/fifo").c_str(), 0644), 0);

    struct Expected {
        const char* name;
        bool link;
        int error;
        bool folder;
        const char* special;
    } const expected[] = {
        {"dangling", true, ENOENT, false, nullptr}, {"fifo", false, 0, false, "FIFO"},
        {"loop", true, ELOOP, false, nullptr},      {"plain.txt", false, 0, false, nullptr},
        {"sub", false, 0, true, nullptr},           {"to-plain", true, 0, false, nullptr},
        {"to-sub", true, 0, true, nullptr},
    };
    int error = -1;
    auto entries = readFolderEntries(dir.str(), u"*.*", error);
    ASSERT_TRUE(entries);
    EXPECT_EQ(error, 0);
    ASSERT_EQ(entries->size(), std::size(expected));
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const FolderEntryStatus& status = (*entries)[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(status.entry.name, expected[i].name);
        EXPECT_EQ(status.link, expected[i].link);
        EXPECT_EQ(status.error, expected[i].error);
        EXPECT_EQ((status.entry.record.attributes & AttrDirectory) != 0, expected[i].folder);
        EXPECT_STREQ(status.entry.special, expected[i].special);
        if (status.error == 0) {
            EXPECT_EQ(status.identity, *fileIdentity(dir.str() + "/" + status.entry.name));
        }
    }
    // A link points at the same thing as its target.
    EXPECT_EQ((*entries)[5].identity, (*entries)[3].identity);
    // The plain listing keeps leaving out what cannot be followed.
    EXPECT_EQ(listFolderEntries(dir.str(), u"*.*")->size(), 5u);
}

TEST(FolderEntriesTest, AFolderThatCannotBeOpenedGivesItsReason) {
    TempDir dir;
    std::string file = dir.file("file.txt");
    struct Case {
        std::string folder;
        int error;
    } const cases[] = {{dir.str() + "/absent", ENOENT}, {file, ENOTDIR}};
    for (const Case& c : cases) {
        int error = 0;
        EXPECT_FALSE(readFolderEntries(c.folder, u"*.*", error)) << c.folder;
        EXPECT_EQ(error, c.error) << c.folder;
    }
}

TEST(FolderEntriesTest, LinkHelpers) {
    TempDir dir;
    std::string file = dir.file("a.txt");
    std::filesystem::create_symlink("a.txt", dir.path() / "link");
    std::filesystem::create_directory_symlink(dir.path(), dir.path() / "dirlink");
    EXPECT_TRUE(isSymbolicLink(dir.str() + "/link"));
    EXPECT_TRUE(isSymbolicLink(dir.str() + "/dirlink"));
    EXPECT_FALSE(isSymbolicLink(dir.str() + "/dirlink/"));  // the slash follows it
    EXPECT_FALSE(isSymbolicLink(file));
    EXPECT_FALSE(isSymbolicLink(""));
    EXPECT_EQ(linkTarget(dir.str() + "/link"), "a.txt");
    EXPECT_EQ(linkTarget(file), "");
}

}  // namespace
}  // namespace velk::platform
