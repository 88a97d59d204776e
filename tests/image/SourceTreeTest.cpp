#include "engine/image/SourceTree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cctype>
#include <map>
#include <set>
#include <string>

#include "engine/api/BurnEngine.h"
#include "engine/image/Names.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace velk {
namespace {

using testing::TempDir;

std::u16string u16(const std::string& text) { return platform::toUtf16(text); }

// prefix + i, appended in place: GCC 12 at -O3 warns falsely (-Wrestrict)
// about "literal" + std::to_string(i).
std::string numbered(const char* prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

std::vector<std::string> childNames(const FolderNode* folder) {
    std::vector<std::string> names;
    for (const FileItem* item = folder->firstChild; item; item = item->next) {
        names.push_back(platform::toUtf8(item->jolietName));
    }
    return names;
}

class SourceTreeTest : public ::testing::Test {
protected:
    BurnEngine engine;
    ImageProject& project = engine.project();
    TempDir dir;
};

TEST_F(SourceTreeTest, AddFileTakesNamesSizeAndSource) {
    std::string path = dir.file("readme", "hello");
    auto* item = static_cast<FileItem*>(engine.AddFile("\\", path.c_str()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->jolietName, u"readme.");
    EXPECT_EQ(item->isoName, "README.");
    EXPECT_EQ(item->isoNameLength, 7);
    EXPECT_EQ(item->size, 5u);
    EXPECT_EQ(item->sourcePath, u16(path));
    EXPECT_EQ(item->wideSource, 0);
    EXPECT_EQ(project.prepared, 0);
    EXPECT_GE(item->date.year, 2020);

    auto* wide = static_cast<FileItem*>(engine.AddFileW(u"\\", u16(dir.file("b.txt")).c_str()));
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->wideSource, 1);
    EXPECT_EQ(engine.GetFileCount(), 2);
}

TEST_F(SourceTreeTest, MissingSourceOrTreePathGivesNullWithoutError) {
    EXPECT_EQ(engine.AddFile("\\", (dir.str() + "/absent").c_str()), nullptr);
    std::string path = dir.file("a.txt");
    EXPECT_EQ(engine.AddFile("\\No\\Such", path.c_str()), nullptr);
    EXPECT_EQ(engine.AddFile("\\", dir.str().c_str()), nullptr);  // a folder is no file
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNone);
    EXPECT_EQ(engine.GetFileCount(), 0);
}

TEST_F(SourceTreeTest, LongSourcePathsAreAccepted) {
    // A path far beyond 96 characters that the platform opens fine.
    std::string deep = dir.folder(std::string(60, 'a') + "/" + std::string(60, 'b'));
    std::string path = dir.file(std::string(60, 'a') + "/" + std::string(60, 'b') + "/file.txt", "x");
    ASSERT_GT(path.size(), 96u);
    EXPECT_NE(engine.AddFileW(u"\\", u16(path).c_str()), nullptr);
    EXPECT_NE(engine.AddFile("\\", path.c_str()), nullptr);  // same item again
    EXPECT_EQ(engine.GetFileCount(), 1);
}

TEST_F(SourceTreeTest, NamesOf98And99Characters) {
    std::string ok = dir.file(std::string(94, 'n') + ".txt");   // 98 characters
    std::string bad = dir.file(std::string(95, 'n') + ".txt");  // 99 characters
    EXPECT_NE(engine.AddFile("\\", ok.c_str()), nullptr);
    EXPECT_EQ(engine.AddFile("\\", bad.c_str()), nullptr);
    EXPECT_EQ(project.errorFileName, u16(std::string(95, 'n') + ".txt"));
    std::string text = engine.GetLastErrorText();
    EXPECT_EQ(text, "Invalid file name \"" + std::string(95, 'n') + ".txt\"");
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNone);  // consumed by the text
}

// The same source added again keeps the plain duplicate rule: the entry is
// kept as it is, or refilled in place with replaceExisting.
TEST_F(SourceTreeTest, SameSourceAgainKeepsTheDuplicateRule) {
    std::string first = dir.file("one/file.txt", "1");
    auto* item = static_cast<FileItem*>(engine.AddFile("\\", first.c_str()));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(engine.AddFile("\\", first.c_str()), item);
    dir.file("one/file.txt", "22");
    EXPECT_EQ(item->size, 1u);
    engine.SetReplaceExisting(1);
    EXPECT_EQ(engine.AddFile("\\", first.c_str()), item);  // refilled in place
    EXPECT_EQ(item->size, 2u);
    // With replaceExisting a file from another source takes the entry over.
    std::string second = dir.file("two/File.TXT", "333");
    EXPECT_EQ(engine.AddFile("\\", second.c_str()), item);
    EXPECT_EQ(item->size, 3u);
    EXPECT_EQ(item->sourcePath, u16(second));
    EXPECT_EQ(item->jolietName, u"File.TXT");
    EXPECT_EQ(engine.GetFileCount(), 1);
    EXPECT_TRUE(project.notices.empty());

    std::string folder = dir.folder("tree/sub");
    dir.file("tree/sub/a.txt", "a");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/tree").c_str(), "*.*", 1, 0), nullptr);
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/tree").c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(engine.GetFileCount(), 3);
    EXPECT_TRUE(project.notices.empty());
}

// Nothing is dropped: a second entry whose disc name is taken (any letter
// case) by an entry from another source goes on under a unique name.
TEST_F(SourceTreeTest, NamesTakenByAnotherSourceGetAUniqueName) {
    dir.file("src/Index.html", "I");
    dir.file("src/index.html", "i");
    dir.file("src/README", "R");
    dir.file("src/readme", "r");
    dir.file("src/Docs/a.txt", "A");
    dir.file("src/docs/b.txt", "B");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    // Two paths given one after the other that land on the same disc path.
    std::string other = dir.file("elsewhere/INDEX.HTML", "other");
    ASSERT_NE(engine.AddFile("\\", other.c_str()), nullptr);
    // The source listing is in byte order; subfolders come first.
    EXPECT_EQ(childNames(project.root),
              (std::vector<std::string>{"Docs", "docs (2)", "Index.html", "README.", "index (2).html",
                                        "readme (2).", "INDEX (3).HTML"}));
    EXPECT_EQ(childNames(findFolder(project, u"\\Docs")), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(childNames(findFolder(project, u"\\docs (2)")), (std::vector<std::string>{"b.txt"}));
    struct Expected {
        std::string source;
        std::u16string disc;
    } expected[] = {
        {dir.str() + "/src/docs", u"\\docs (2)"},
        {dir.str() + "/src/index.html", u"\\index (2).html"},
        {dir.str() + "/src/readme", u"\\readme (2)"},
        {other, u"\\INDEX (3).HTML"},
    };
    ASSERT_EQ(project.notices.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(project.notices[i].kind, SourceNoticeKind::Renamed);
        EXPECT_EQ(project.notices[i].sourcePath, expected[i].source);
        EXPECT_EQ(project.notices[i].discPath, expected[i].disc);
    }
    // The renamed file still reads from its own source.
    const FileItem* renamed = project.root->firstChild->next->next->next->next;
    EXPECT_EQ(renamed->sourcePath, u16(dir.str() + "/src/index.html"));
    EXPECT_EQ(renamed->size, 1u);
}

// A file and a folder of one name cannot share an entry either way.
TEST_F(SourceTreeTest, FileAndFolderOfOneNameBothStay) {
    std::string file = dir.file("a/Work.txt", "x");
    dir.file("b/work.txt/inside.txt", "y");
    ASSERT_NE(engine.AddFile("\\", file.c_str()), nullptr);
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/b").c_str(), "*.*", 1, 0), nullptr);
    std::string later = dir.file("c/WORK.TXT", "z");
    ASSERT_NE(engine.AddFile("\\", later.c_str()), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"Work.txt", "work.txt (2)", "WORK (2).TXT"}));
    EXPECT_EQ(childNames(findFolder(project, u"\\work.txt (2)")), (std::vector<std::string>{"inside.txt"}));
    // A virtual file never refills a folder's entry, replaceExisting or not.
    engine.SetReplaceExisting(1);
    platform::FindData record;
    platform::setFileName(record, u"WORK.TXT (2)");
    auto* item = static_cast<FileItem*>(addVirtualFile(project, u"\\", record, nullptr, nullptr));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->jolietName, u"WORK (2).TXT (2)");
    EXPECT_NE(findFolder(project, u"\\work.txt (2)"), nullptr);
}

TEST_F(SourceTreeTest, SpecialFilesAreLeftOutAndNoted) {
    dir.file("src/plain.txt", "p");
    std::string fifo = dir.str() + "/src/pipe";
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"plain.txt"}));
    EXPECT_EQ(engine.AddFile("\\", fifo.c_str()), nullptr);  // named directly
    EXPECT_EQ(engine.GetFileCount(), 1);
    ASSERT_EQ(project.notices.size(), 2u);
    for (const SourceNotice& notice : project.notices) {
        EXPECT_EQ(notice.kind, SourceNoticeKind::SpecialFile);
        EXPECT_EQ(notice.sourcePath, fifo);
        EXPECT_EQ(notice.reason, "FIFO");
    }
}

// A name that is not UTF-8 shows U+FFFD on the disc, and the file still
// opens by its own bytes.
TEST_F(SourceTreeTest, NameThatIsNotUtf8KeepsItsBytesForOpening) {
    const std::string bad = "caf\xE9 \xFF.txt";
    dir.file("src/" + bad, "latin-1 name");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    const std::string direct = dir.file("one/" + bad, "direct");
    auto* item = static_cast<FileItem*>(addFileBytes(project, u"\\", direct, 0));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->jolietName, u"caf\uFFFD \uFFFD (2).txt");  // taken by the first
    for (const FileItem* file = project.root->firstChild; file; file = file->next) {
        std::FILE* in = std::fopen(sourceOpenPath(*file).c_str(), "rb");
        ASSERT_NE(in, nullptr) << platform::toUtf8(file->jolietName);
        char buffer[32] = {};
        EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, in), file->size);
        std::fclose(in);
    }
    EXPECT_EQ(project.root->firstChild->jolietName, u"caf\uFFFD \uFFFD.txt");
    EXPECT_EQ(project.root->firstChild->sourceBytes, dir.str() + "/src/" + bad);
    ASSERT_EQ(project.notices.size(), 3u);  // invalid, renamed, invalid
    EXPECT_EQ(project.notices[0].kind, SourceNoticeKind::InvalidName);
    EXPECT_EQ(project.notices[0].discPath, u"\\caf\uFFFD \uFFFD.txt");
    EXPECT_EQ(project.notices[1].kind, SourceNoticeKind::Renamed);
    EXPECT_EQ(project.notices[2].kind, SourceNoticeKind::InvalidName);
    // A valid name keeps no second copy of its path.
    std::string plain = dir.file("plain.txt");
    EXPECT_TRUE(static_cast<FileItem*>(engine.AddFile("\\", plain.c_str()))->sourceBytes.empty());
}

TEST_F(SourceTreeTest, TreePathLookup) {
    engine.CreateFolder("\\", "A");
    engine.CreateFolder("\\A", "B");
    FolderNode* b = findFolder(project, u"\\A\\B");
    ASSERT_NE(b, nullptr);
    for (const char16_t* path : {u"\\A\\B\\", u"\\a\\b", u"/A/B", u"\\\\A\\\\B", u"A\\B"}) {
        EXPECT_EQ(findFolder(project, path), b) << platform::toUtf8(path);
    }
    EXPECT_EQ(findFolder(project, u"\\"), project.root);
    EXPECT_EQ(findFolder(project, u""), project.root);
    EXPECT_EQ(findFolder(project, u"\\A\\C"), nullptr);
    EXPECT_EQ(folderPath(b), u"\\A\\B\\");
    EXPECT_EQ(folderPath(project.root), u"\\");

    std::string file = dir.file("f.txt");
    engine.AddFile("\\A\\", file.c_str());  // trailing backslash finds \A
    EXPECT_EQ(findFolder(project, u"\\A\\f.txt"), nullptr);  // a file is no folder
    EXPECT_EQ(childNames(findFolder(project, u"\\A")), (std::vector<std::string>{"B", "f.txt"}));
}

TEST_F(SourceTreeTest, AddDirectoryPutsSubfoldersBeforeFilesAndAppliesTheMask) {
    dir.file("src/b.txt", "b");
    dir.file("src/a.doc", "a");
    dir.file("src/Zed/z.txt", "z");
    dir.folder("src/alpha/empty");
    dir.file("src/.hidden", "h");
    FolderNode* target = static_cast<FolderNode*>(
        engine.AddDirectory("\\", (dir.str() + "/src/").c_str(), "*.txt", 1, 0));
    ASSERT_EQ(target, project.root);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"Zed", "alpha", "b.txt"}));
    FolderNode* alpha = findFolder(project, u"\\alpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_NE(findFolder(project, u"\\alpha\\empty"), nullptr);  // empty folders stay
    EXPECT_EQ(childNames(findFolder(project, u"\\Zed")), (std::vector<std::string>{"z.txt"}));

    BurnEngine all;
    all.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 0, 0);
    EXPECT_EQ(childNames(all.project().root),
              (std::vector<std::string>{".hidden", "a.doc", "b.txt"}));
    const FileItem* hidden = all.project().root->firstChild;
    EXPECT_EQ(hidden->attributes & 0x02u, 0x02u);
}

TEST_F(SourceTreeTest, KeepPathCreatesTheSourceFoldersBelowTheTarget) {
    std::string pics = dir.file("data/pics/p.jpg", "p");
    std::string source = dir.str() + "/data/pics";
    engine.CreateFolder("\\", "T");
    FolderNode* target = static_cast<FolderNode*>(engine.AddDirectory("\\T", source.c_str(), "*.*", 1, 1));
    ASSERT_NE(target, nullptr);
    // Every component of the absolute source path is created below \T.
    std::u16string expected = u"\\T" + u16(source);
    for (char16_t& unit : expected) {
        if (unit == u'/') unit = u'\\';
    }
    EXPECT_EQ(target, findFolder(project, expected));
    EXPECT_EQ(childNames(target), (std::vector<std::string>{"p.jpg"}));

    // A second add of the same path reuses the folders.
    int folders = engine.GetDirectoryCount();
    EXPECT_EQ(engine.AddDirectory("\\T", source.c_str(), "*.*", 1, 1), target);
    EXPECT_EQ(engine.GetDirectoryCount(), folders);
}

TEST(KeepPathTest, SlashAddsIntoTheTargetItself) {
    // "/" holds the whole file system; walk it without recursion so the test
    // stays small: only its files land, directly in the target.
    BurnEngine engine;
    FolderNode* target = static_cast<FolderNode*>(engine.AddDirectory("\\", "/", "no-such-*", 0, 1));
    EXPECT_EQ(target, engine.project().root);
    EXPECT_EQ(engine.GetDirectoryCount(), 1);
}

TEST_F(SourceTreeTest, KeepPathWithRelativeSourceUsesItsComponents) {
    dir.file("data/pics/p.jpg", "p");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    FolderNode* target = static_cast<FolderNode*>(engine.AddDirectory("\\", "./data/pics", "*.*", 1, 1));
    std::filesystem::current_path(previous);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target, findFolder(project, u"\\data\\pics"));
}

// Every name too long is noted in one walk (inside a folder whose own name
// is too long, too), then the add fails with the first of them.
TEST_F(SourceTreeTest, AddDirectoryNotesEveryTooLongNameThenFails) {
    dir.file("src/a.txt");
    dir.file("src/" + std::string(99, 'x'));
    dir.file("src/" + std::string(99, 'f') + "/" + std::string(99, 'g'));
    dir.file("src/z.txt");
    EXPECT_EQ(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"a.txt", "z.txt"}));  // nothing rolled back
    std::vector<std::string> noted;
    for (const SourceNotice& notice : project.notices) {
        EXPECT_EQ(notice.kind, SourceNoticeKind::NameTooLong);
        noted.push_back(notice.sourcePath.substr(dir.str().size()));
    }
    EXPECT_EQ(noted, (std::vector<std::string>{"/src/" + std::string(99, 'f'),
                                               "/src/" + std::string(99, 'f') + "/" + std::string(99, 'g'),
                                               "/src/" + std::string(99, 'x')}));
    EXPECT_EQ(project.errorFileName, u16(std::string(99, 'f')));
    EXPECT_EQ(engine.GetLastErrorCode(), ErrInvalidName);
}

// A path the system cannot take (over 4096 bytes) fails the add with the
// system's reason, instead of its subtree vanishing.
TEST_F(SourceTreeTest, PathTooLongForTheSystemFailsTheAdd) {
    std::string top = dir.folder("src");
    std::string deepest = top;
    while (deepest.size() + 91 < 4096) {
        deepest += "/" + std::string(90, 'd');
        ASSERT_EQ(::mkdir(deepest.c_str(), 0755), 0) << deepest;
    }
    // The deepest folder's path fits; that of the folder in it, one byte
    // over the limit, can only be made from its parent.
    const std::string name(4096 - deepest.size(), 'e');
    const std::string tooLong = deepest + "/" + name;
    int fd = ::open(deepest.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    ::close(fd);
    EXPECT_EQ(engine.AddDirectory("\\", top.c_str(), "*.*", 1, 0), nullptr);
    ASSERT_EQ(project.notices.size(), 1u);
    EXPECT_EQ(project.notices[0].kind, SourceNoticeKind::Unreadable);
    EXPECT_EQ(project.notices[0].sourcePath, tooLong);
    EXPECT_EQ(engine.GetLastSystemError(), ENAMETOOLONG);
    EXPECT_STREQ(engine.GetLastSystemErrorText(), "File name too long");
    EXPECT_EQ(engine.GetLastErrorCode(), ErrOpenFile);
    (void)std::system(("rm -rf '" + top + "'").c_str());
}

TEST_F(SourceTreeTest, LinkCycleIsSkipped) {
    dir.file("src/inner/f.txt", "f");
    std::filesystem::create_directory_symlink(dir.path() / "src", dir.path() / "src/inner/loop");
    std::filesystem::create_directory_symlink(dir.path() / "src/inner", dir.path() / "src/alias");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    // The link back to an ancestor is left out; a link to a folder elsewhere is followed.
    EXPECT_EQ(childNames(findFolder(project, u"\\inner")), (std::vector<std::string>{"f.txt"}));
    EXPECT_EQ(childNames(findFolder(project, u"\\alias")), (std::vector<std::string>{"f.txt"}));
}

// What a walk meets that cannot be followed is left out, each with its
// notice: a link to nothing, a link loop, a link back to a folder above, a
// link to a FIFO.
TEST_F(SourceTreeTest, LinksThatCannotBeFollowedAreNoted) {
    dir.file("src/a.txt", "a");
    dir.folder("src/sub");
    std::filesystem::create_symlink("nowhere", dir.path() / "src/dangling");
    std::filesystem::create_symlink("loop", dir.path() / "src/loop");
    std::filesystem::create_symlink("..", dir.path() / "src/sub/up");
    ASSERT_EQ(::mkfifo((dir.str() + "/src/fifo").c_str(), 0644), 0);
    std::filesystem::create_symlink("fifo", dir.path() / "src/to-fifo");
    const std::string src = dir.str() + "/src";
    ASSERT_NE(engine.AddDirectory("\\", src.c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"sub", "a.txt"}));
    struct Noted {
        SourceNoticeKind kind;
        std::string source;
        std::string reason;
        bool operator==(const Noted&) const = default;
    };
    std::vector<Noted> noted;
    for (const SourceNotice& n : project.notices) noted.push_back({n.kind, n.sourcePath, n.reason});
    EXPECT_EQ(noted, (std::vector<Noted>{{SourceNoticeKind::LinkLoop, src + "/sub/up", src},
                                         {SourceNoticeKind::LinkDangling, src + "/dangling", "nowhere"},
                                         {SourceNoticeKind::SpecialFile, src + "/fifo", "FIFO"},
                                         {SourceNoticeKind::LinkLoop, src + "/loop", ""},
                                         {SourceNoticeKind::LinkToSpecial, src + "/to-fifo", "FIFO"}}));
}

TEST_F(SourceTreeTest, LinksAreFollowedUnlessSwitchedOff) {
    dir.file("src/a.txt", "a");
    dir.file("sub/b.txt", "b");
    std::filesystem::create_symlink("a.txt", dir.path() / "src/link.txt");
    std::filesystem::create_directory_symlink(dir.path() / "sub", dir.path() / "src/dir");
    const std::string src = dir.str() + "/src";
    ASSERT_NE(engine.AddDirectory("\\", src.c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"dir", "a.txt", "link.txt"}));

    engine.ResetProject();
    project.followLinks = 0;
    ASSERT_NE(engine.AddDirectory("\\", src.c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"a.txt"}));
    // Named directly, a link is left out too, without an error; "dir/"
    // names the folder it points at.
    EXPECT_EQ(engine.AddFile("\\", (src + "/link.txt").c_str()), nullptr);
    EXPECT_EQ(engine.AddDirectory("\\", (src + "/dir").c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNone);
    std::vector<std::string> skipped;
    for (const SourceNotice& n : project.notices) {
        EXPECT_EQ(n.kind, SourceNoticeKind::LinkSkipped);
        skipped.push_back(n.sourcePath.substr(src.size()));
    }
    EXPECT_EQ(skipped, (std::vector<std::string>{"/dir", "/link.txt", "/link.txt", "/dir"}));
    EXPECT_NE(engine.AddDirectory("\\", (src + "/dir/").c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"a.txt", "b.txt"}));
    engine.ResetProject();
    EXPECT_EQ(project.followLinks, 0) << "a switch, kept across resets";
}

// The file being written (the image) stays out under every name it has.
TEST_F(SourceTreeTest, ExcludedFileIsLeftOutHoweverItIsReached) {
    dir.file("src/a.txt", "a");
    std::string image = dir.file("src/img.iso", "old image");
    std::filesystem::create_hard_link(image, dir.path() / "src/hard.iso");
    std::filesystem::create_symlink("img.iso", dir.path() / "src/soft.iso");
    project.excludedFiles.push_back({*platform::fileIdentity(image), "it is the image being written"});
    engine.ResetProject();  // kept across resets
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    EXPECT_EQ(engine.AddFile("\\", image.c_str()), nullptr);
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNone);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"a.txt"}));
    std::vector<std::string> excluded;
    for (const SourceNotice& n : project.notices) {
        EXPECT_EQ(n.kind, SourceNoticeKind::Excluded);
        EXPECT_EQ(n.reason, "it is the image being written");
        excluded.push_back(std::filesystem::path(n.sourcePath).filename().string());
    }
    EXPECT_EQ(excluded, (std::vector<std::string>{"hard.iso", "img.iso", "soft.iso", "img.iso"}));
}

// A file "x" is "x." in Joliet but "x" in UDF: a folder "x" beside it
// would be a second "x" there, so the later one takes a name of its own,
// and the notice names the source that has the name.
TEST_F(SourceTreeTest, FileWithoutDotAndFolderOfItsNameStayApartInUdf) {
    std::string file = dir.file("a/x", "file");
    dir.file("b/x/in.txt", "in");
    ASSERT_NE(engine.AddFile("\\", file.c_str()), nullptr);
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/b").c_str(), "*.*", 1, 0), nullptr);
    dir.file("c/y/in.txt", "in");
    std::string later = dir.file("d/y", "file");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/c").c_str(), "*.*", 1, 0), nullptr);
    ASSERT_NE(engine.AddFile("\\", later.c_str()), nullptr);
    EXPECT_EQ(childNames(project.root), (std::vector<std::string>{"x.", "x (2)", "y", "y (2)."}));
    ASSERT_EQ(project.notices.size(), 2u);
    EXPECT_EQ(project.notices[0].sourcePath, dir.str() + "/b/x");
    EXPECT_EQ(project.notices[0].takenBy, file);
    EXPECT_EQ(project.notices[1].sourcePath, later);
    EXPECT_EQ(project.notices[1].takenBy, dir.str() + "/c/y");
}

TEST_F(SourceTreeTest, FolderNamesInBothTrees) {
    engine.CreateFolder("\\", "Work");
    engine.CreateFolder("\\", "A very long folder name");
    FolderNode* work = findFolder(project, u"\\Work");
    EXPECT_EQ(work->isoName, "WORK");
    EXPECT_EQ(work->isoNameLength, 4);
    const FileItem* workItem = project.root->firstChild;
    EXPECT_EQ(workItem->isoName, "WORK");
    EXPECT_EQ(workItem->jolietName, u"Work");
    FolderNode* longFolder = findFolder(project, u"\\A very long folder name");
    EXPECT_EQ(longFolder->isoName, "A VERY LONG ");  // alternate name: its first 12 characters
    EXPECT_EQ(longFolder->longName, u"A very long folder name");
}

TEST_F(SourceTreeTest, ResetKeepsLabelSwitchesAndLongNameMode) {
    engine.SetVolumeLabel("My Disc");
    engine.SetJoliet(0);
    engine.SetReplaceExisting(1);
    engine.CreateFolder("\\", "X");
    engine.ResetProjectEx(1, 0);
    EXPECT_EQ(project.longNameMode, 1);
    engine.ResetProject();
    EXPECT_EQ(project.longNameMode, 1);  // a plain reset never clears it
    EXPECT_EQ(engine.GetDirectoryCount(), 1);
    EXPECT_EQ(engine.GetFileCount(), 0);
    EXPECT_STREQ(engine.GetVolumeLabel(), "My Disc");
    EXPECT_EQ(engine.GetJoliet(), 0);
    EXPECT_EQ(engine.GetReplaceExisting(), 1);
    EXPECT_EQ(project.roundTo32, 1);

    std::string path = dir.file("Annual Report 2008.doc", "x");
    auto* item = static_cast<FileItem*>(engine.AddFile("\\", path.c_str()));
    EXPECT_EQ(item->isoName, "Annual Report 2008.doc");  // long mode: the long name itself
}

TEST_F(SourceTreeTest, LabelsAreCutTo32UnitsInBothForms) {
    std::string label(40, 'L');
    EXPECT_EQ(engine.SetVolumeLabel(label.c_str()), 32);
    EXPECT_EQ(std::string(engine.GetVolumeLabel()), std::string(32, 'L'));
    EXPECT_EQ(std::u16string(engine.GetVolumeLabelW()), std::u16string(32, u'L'));

    std::u16string greek(40, u'\u03a9');
    engine.SetVolumeLabelW(greek.c_str());
    EXPECT_EQ(std::u16string(engine.GetVolumeLabelW()), std::u16string(32, u'\u03a9'));
    EXPECT_EQ(std::string(engine.GetVolumeLabel()).size(), 32u);  // 16 two-byte characters
    engine.SetVolumeLabel(nullptr);
    EXPECT_STREQ(engine.GetVolumeLabel(), "");
}

TEST_F(SourceTreeTest, VirtualFileTakesItsRecordAndCallback) {
    platform::FindData record;
    platform::setFileName(record, u"generated.bin");
    record.sizeHigh = 0;
    record.sizeLow = 4096;
    int context = 0;
    auto callback = [](FileItem*, std::uint32_t, std::uint8_t*, std::uint32_t*, void*) -> std::int32_t {
        return 1;
    };
    auto* item = static_cast<FileItem*>(engine.AddVirtualFileW(u"\\", record, callback, &context));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->size, 4096u);
    EXPECT_TRUE(item->sourcePath.empty());
    EXPECT_EQ(item->wideSource, 1);
    EXPECT_EQ(item->callbackContext, &context);
    EXPECT_NE(item->dataCallback, nullptr);
}

TEST_F(SourceTreeTest, TablesRefuseEntriesBeyondTheirCapacity) {
    platform::FindData record;
    record.sizeLow = 1;
    for (int i = 0; i < MaxItems; ++i) {
        platform::setFileName(record, u16(numbered("f", i)));
        ASSERT_NE(engine.AddVirtualFileW(u"\\", record, nullptr, nullptr), nullptr) << i;
    }
    platform::setFileName(record, u"one-too-many");
    EXPECT_EQ(engine.AddVirtualFileW(u"\\", record, nullptr, nullptr), nullptr);
    EXPECT_EQ(engine.GetFileCount(), MaxItems);
    std::string text = engine.GetLastErrorText();
    EXPECT_NE(text.find("200000"), std::string::npos) << text;
    EXPECT_EQ(engine.CreateFolder("\\", "NoRoom"), nullptr);
}

TEST(FolderCapacityTest, The65001stFolderIsRefused) {
    BurnEngine engine;
    for (int i = 1; i < MaxFolders; ++i) {
        ASSERT_NE(engine.CreateFolderW(u"\\", u16(numbered("d", i)).c_str()), nullptr) << i;
    }
    EXPECT_EQ(engine.GetDirectoryCount(), MaxFolders);
    EXPECT_EQ(engine.CreateFolder("\\", "extra"), nullptr);
    EXPECT_EQ(engine.GetLastErrorCode(), ErrProjectFull);
    EXPECT_EQ(engine.GetDirectoryCount(), MaxFolders);
    EXPECT_EQ(engine.GetFileCount(), MaxFolders - 1);  // no half-made folder item
}

TEST_F(SourceTreeTest, AFileCannotBeTurnedIntoAFolder) {
    std::string path = dir.file("Work", "x");
    engine.AddFile("\\", path.c_str());
    // "Work" as a file is stored as "Work."; a folder "Work." collides with
    // it and gets a name of its own.
    FolderNode* folder = static_cast<FolderNode*>(engine.CreateFolder("\\", "Work."));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->longName, u"Work. (2)");
    const FileItem* item = project.root->firstChild;
    EXPECT_EQ(item->folder, nullptr);
    EXPECT_EQ(item->size, 1u);
}

}  // namespace
// 8.3 names are unique within one source folder only: merged folders must
// not bring the same ISO name twice, renamed or not.
TEST_F(SourceTreeTest, MergedFoldersGetUniqueIsoNames) {
    dir.file("a/Index.html", "1");
    dir.file("a/Annual Report.doc", "2");
    dir.file("b/index.html", "3");
    dir.file("b/Annual Review.doc", "4");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/a").c_str(), "*.*", 1, 0), nullptr);
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/b").c_str(), "*.*", 1, 0), nullptr);
    ASSERT_GT(engine.PrepareImage(), 0);
    std::map<std::string, std::string> isoOf;  // Joliet name -> ISO name as written
    std::set<std::string> written;
    for (const FileItem* item = project.root->firstChild; item; item = item->next) {
        std::string iso = item->isoName.substr(0, item->isoNameLength);
        for (char& c : iso) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        isoOf[platform::toUtf8(item->jolietName)] = iso;
        EXPECT_TRUE(written.insert(iso).second) << iso << " twice";
    }
    ASSERT_EQ(isoOf.size(), 4u);
    // The first of each name keeps it.
    EXPECT_EQ(isoOf["Index.html"], "INDEX~1.HTM");
    EXPECT_EQ(isoOf["Annual Report.doc"], "ANNUAL~1.DOC");
}

}  // namespace velk
