// The session import's parser: sessions the engine wrote come back as the
// tree they were made from (names, sizes, dates, old extents), a session
// with only a primary tree gives that tree, and hostile discs end in a clean
// partial import with bounded reads. The saved fuzz corpus is replayed.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/image/Endian.h"
#include "engine/image/HeaderGenerator.h"
#include "engine/image/ImageOperations.h"
#include "engine/image/Layout.h"
#include "engine/image/SessionImport.h"
#include "engine/image/SourceTree.h"
#include "engine/image/UdfFiles.h"
#include "engine/image/UdfVolume.h"
#include "image/ImageTestSupport.h"
#include "image/TestImageWriter.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

using image::BlockBytes;
using image::importSessionTree;
using image::putLe32;
using image::ImportReport;

// Every file and folder below `folder` as "\A\b.txt" -> item.
void collect(const FolderNode& folder, const std::u16string& prefix, std::map<std::u16string, const FileItem*>& out) {
    for (const FileItem* child = folder.firstChild; child; child = child->next) {
        std::u16string path = prefix + u"\\" + child->jolietName;
        if (child->folder) {
            path = prefix + u"\\" + child->folder->longName;
            out[path + u"\\"] = child;
            collect(*child->folder, path, out);
        } else {
            if (child->jolietDotAdded && !path.empty() && path.back() == u'.') path.pop_back();
            out[path] = child;
        }
    }
}

std::map<std::u16string, const FileItem*> treeOf(const ImageProject& project) {
    std::map<std::u16string, const FileItem*> out;
    collect(*project.root, u"", out);
    return out;
}

std::set<std::string> pathsOf(const ImageProject& project) {
    std::set<std::string> out;
    for (const auto& [path, item] : treeOf(project)) out.insert(platform::toUtf8(path));
    return out;
}

// An image file served as disc blocks from `start` on.
struct ImageFileDisc {
    std::vector<std::uint8_t> bytes;
    std::uint32_t start = 0;
    image::BlockReader reader() const {
        return [this](std::uint32_t lba, std::uint8_t* out) {
            if (lba < start || std::uint64_t{lba - start + 1} * BlockBytes > bytes.size()) return false;
            std::memcpy(out, bytes.data() + std::size_t{lba - start} * BlockBytes, BlockBytes);
            return true;
        };
    }
};

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct WrittenSession {
    std::unique_ptr<ImageProject> source;
    ImageFileDisc disc;
};

// A session the engine writes from a small tree at `startLba`.
WrittenSession writeSession(const TempDir& dir, std::uint32_t startLba, bool longNames, bool joliet) {
    WrittenSession session;
    session.source = newProject();
    ImageProject& project = *session.source;
    if (longNames) resetProject(project, 1, 0);
    project.jolietOn = joliet ? 1 : 0;
    EXPECT_TRUE(addVirtual(project, u"\\", u"A long file name with spaces.txt", 5000, 0, SummerFileTime));
    EXPECT_TRUE(addVirtual(project, u"\\", u"Makefile", 10, 0, WinterFileTime));
    EXPECT_TRUE(addVirtual(project, u"\\", u"empty.dat", 0));
    EXPECT_TRUE(createFolder(project, u"\\", u"Música"));
    EXPECT_TRUE(createFolder(project, u"\\Música", u"sub"));
    EXPECT_TRUE(addVirtual(project, u"\\Música\\sub", u"Καλημέρα.bin", 70000));
    EXPECT_GT(image::PrepareImage(project), 0);
    std::string path = dir.str() + "/session.iso";
    TestImageOptions options;
    options.startLba = startLba;
    EXPECT_EQ(writeTestImage(project, path, options), "");
    session.disc.bytes = readFile(path);
    session.disc.start = startLba;
    return session;
}

TEST(SessionImportTest, SessionsTheEngineWroteComeBackWithNamesSizesDatesAndOldExtents) {
    ScopedTimeZone zone("Europe/Berlin");
    struct Case {
        const char* name;
        bool longNames;
        bool joliet;
        bool jolietNames;  // the tree read has UCS-2 names
    };
    for (const Case& c : {Case{"joliet", false, true, true}, Case{"long-name descriptor", true, true, false},
                          Case{"primary only", false, false, false}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        constexpr std::uint32_t Start = 1000;
        WrittenSession written = writeSession(dir, Start, c.longNames, c.joliet);
        auto imported = newProject();
        ImportReport report = importSessionTree(*imported, written.disc.reader(), Start, 0, imported->root);
        EXPECT_TRUE(report.descriptorFound);
        EXPECT_EQ(report.jolietNames, c.jolietNames);
        EXPECT_EQ(report.primaryTree, !c.joliet && !c.longNames);
        EXPECT_EQ(report.skippedRecords, 0u);

        auto want = treeOf(*written.source);
        auto got = treeOf(*imported);
        if (report.primaryTree) {
            // The primary tree holds the ISO names: as recorded, upper case.
            EXPECT_EQ(pathsOf(*imported),
                      (std::set<std::string>{"\\A LONG FILE ", "\\EMPTY.DAT", "\\MAKEFILE", "\\MúSICA\\",
                                             "\\MúSICA\\SUB\\", "\\MúSICA\\SUB\\Καλημέ"}))
                << "the primary tree's names";
            continue;
        }
        // The long-name tree holds its names upper-cased.
        auto folded = [](const std::set<std::string>& paths) {
            std::set<std::string> out;
            for (const std::string& path : paths) out.insert(platform::toUtf8(platform::foldCase(platform::toUtf16(path))));
            return out;
        };
        ASSERT_EQ(folded(pathsOf(*imported)), folded(pathsOf(*written.source)));
        for (const auto& [path, original] : want) {
            SCOPED_TRACE(platform::toUtf8(path));
            const FileItem* item = nullptr;
            for (const auto& [gotPath, gotItem] : got) {
                if (platform::equalsIgnoreCase(gotPath, path)) item = gotItem;
            }
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->date.year, original->date.year);
            EXPECT_EQ(item->date.hour, original->date.hour) << "the record's offset is applied";
            EXPECT_EQ(item->date.minute, original->date.minute);
            EXPECT_EQ(item->utcOffsetMinutes, original->utcOffsetMinutes);
            if (original->folder) continue;
            EXPECT_EQ(item->size, original->size);
            EXPECT_TRUE(item->sourcePath.empty());
            if (original->size == 0) {
                EXPECT_EQ(item->fixedBlock, 0);
            } else {
                EXPECT_EQ(item->fixedBlock, 1);
                EXPECT_EQ(item->dataBlock, Start + written.source->plan.dataStart + original->dataBlock);
            }
        }
    }
}

TEST(SessionImportTest, AfterTheImportANewFileOfAnImportedNameReplacesItOnlyWhenAsked) {
    TempDir dir;
    WrittenSession written = writeSession(dir, 0, false, true);
    for (int replace : {0, 1}) {
        auto project = newProject();
        project->replaceExisting = replace;
        importSessionTree(*project, written.disc.reader(), 0, 0, project->root);
        auto tree = treeOf(*project);
        auto* imported = const_cast<FileItem*>(tree[u"\\Makefile"]);
        ASSERT_NE(imported, nullptr);
        const std::uint32_t oldBlock = imported->dataBlock;
        FileItem* added = addVirtual(*project, u"\\", u"MAKEFILE", 99);
        EXPECT_EQ(added, imported) << "one entry of that name";
        EXPECT_EQ(imported->fixedBlock, replace ? 0 : 1);
        EXPECT_EQ(imported->size, replace ? 99u : 10u);
        if (!replace) {
            EXPECT_EQ(imported->dataBlock, oldBlock);
        }
        EXPECT_EQ(imported->dataCallback != nullptr, replace == 1);
    }
}

TEST(SessionImportTest, ImportedFilesTakeNoNewBlocksAndTheNewSessionPointsAtTheOldData) {
    TempDir dir;
    WrittenSession written = writeSession(dir, 0, false, true);
    auto project = newProject();
    importSessionTree(*project, written.disc.reader(), 0, 0, project->root);
    ASSERT_NE(addVirtual(*project, u"\\", u"new.txt", 3000), nullptr);
    ASSERT_GT(image::PrepareImage(*project), 0);
    EXPECT_EQ(project->plan.dataBlocks, 2u) << "only the new file is streamed";
}

// A first session without the UDF bridge keeps its data below block 257,
// where the UDF partition usually starts: the partition then starts at block
// 0, so the new session's UDF file entries still reach the old data.
TEST(SessionImportTest, OldDataBeforeBlock257MovesTheUdfPartitionToTheDiscsStart) {
    for (std::uint32_t oldBlock : {30u, 400u}) {
        SCOPED_TRACE(oldBlock);
        auto project = newProject();
        platform::FindData record;
        platform::setFileName(record, u"old.bin");
        record.sizeLow = 5000;
        FileItem* old = insertItem(*project, project->root, record, {}, oldBlock, 1);
        ASSERT_NE(old, nullptr);
        ASSERT_GT(image::PrepareImage(*project), 0);
        const std::uint32_t partitionStart = oldBlock < 257 ? 0 : 257;
        EXPECT_EQ(project->udf.partitionStart, partitionStart);
        std::uint8_t block[BlockBytes];
        image::writeFileFileEntry(*project, *old, 16, block);
        EXPECT_EQ(image::getLe32(block + 180), oldBlock - partitionStart) << "the old extent, inside the partition";
        image::writePartitionDescriptor(*project, 34, block);
        EXPECT_EQ(image::getLe32(block + 188), partitionStart);
    }
}

// ---- Hostile discs ----

std::vector<std::uint8_t> ucs2(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
        out.push_back(static_cast<std::uint8_t>(unit));
    }
    return out;
}

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

// A disc made by hand: a Joliet descriptor at 16, the terminator at 17, the
// root directory at 20.
class HandDisc {
public:
    static constexpr std::uint32_t Root = 20;

    explicit HandDisc(std::uint32_t blocks = 64, std::uint32_t volumeBlocks = 64, std::uint32_t rootLength = 2048) {
        blocks_.resize(blocks);
        std::uint8_t* svd = block(16);
        svd[0] = 2;
        std::memcpy(svd + 1, "CD001", 5);
        svd[6] = 1;
        putLe32(svd + 80, volumeBlocks);
        svd[881] = 1;
        std::uint8_t* root = svd + 156;
        root[0] = 34;
        putLe32(root + 2, Root);
        putLe32(root + 10, rootLength);
        root[25] = 2;
        root[32] = 1;
        std::uint8_t* end = block(17);
        end[0] = 255;
        std::memcpy(end + 1, "CD001", 5);
        openDirectory(Root, Root);
    }

    std::uint8_t* block(std::uint32_t n) {
        if (n >= blocks_.size()) blocks_.resize(n + 1);
        return blocks_[n].data();
    }
    std::uint32_t blockCount() const { return static_cast<std::uint32_t>(blocks_.size()); }

    // Starts a directory at `at` with its "." and ".." records; the next
    // record goes after them.
    void openDirectory(std::uint32_t at, std::uint32_t parent) {
        cursorBlock_ = at;
        cursor_ = 0;
        record(at, 2048, 2, {0});
        record(parent, 2048, 2, {1});
    }
    // Moves on to block `at` (a later block of the same directory).
    void continueAt(std::uint32_t at) {
        cursorBlock_ = at;
        cursor_ = 0;
    }
    // One record at the cursor; `length` 0 takes its natural length.
    void record(std::uint32_t extent, std::uint32_t dataLength, std::uint8_t flags, std::vector<std::uint8_t> id,
                std::size_t length = 0, std::uint8_t identifierLength = 0) {
        std::size_t natural = 33 + id.size() + ((id.size() % 2 == 0) ? 1 : 0);
        if (length == 0) length = natural;
        std::uint8_t* at = block(cursorBlock_) + cursor_;
        std::size_t room = BlockBytes - cursor_;
        std::vector<std::uint8_t> bytes(std::max(length, natural), 0);
        bytes[0] = static_cast<std::uint8_t>(length);
        putLe32(bytes.data() + 2, extent);
        putLe32(bytes.data() + 10, dataLength);
        const std::uint8_t date[7] = {109, 6, 15, 12, 30, 45, 0};
        std::memcpy(bytes.data() + 18, date, 7);
        bytes[25] = flags;
        bytes[32] = identifierLength ? identifierLength : static_cast<std::uint8_t>(id.size());
        std::memcpy(bytes.data() + 33, id.data(), id.size());
        std::memcpy(at, bytes.data(), std::min(bytes.size(), room));
        cursor_ += length;
    }
    void file(std::u16string_view name, std::uint32_t extent, std::uint32_t size, std::uint8_t flags = 0) {
        record(extent, size, flags, ucs2(std::u16string(name) + u";1"));
    }
    void folder(std::u16string_view name, std::uint32_t extent, std::uint32_t size = 2048) {
        record(extent, size, 2, ucs2(name));
    }
    void skipBytes(std::size_t count) { cursor_ += count; }

    // Reads fail for these blocks; the buffer then holds stale bytes that
    // look like a record.
    std::set<std::uint32_t> unreadable;
    std::uint32_t reads = 0;

    image::BlockReader reader() {
        return [this](std::uint32_t lba, std::uint8_t* out) {
            ++reads;
            if (unreadable.count(lba)) {
                std::memcpy(out, stale_.data(), BlockBytes);
                return false;
            }
            if (lba >= blocks_.size()) return false;
            std::memcpy(out, blocks_[lba].data(), BlockBytes);
            return true;
        };
    }

    void setStale(const std::array<std::uint8_t, BlockBytes>& bytes) { stale_ = bytes; }

private:
    std::vector<std::array<std::uint8_t, BlockBytes>> blocks_;
    std::array<std::uint8_t, BlockBytes> stale_{};
    std::uint32_t cursorBlock_ = 0;
    std::size_t cursor_ = 0;
};

struct HostileCase {
    const char* name;
    void (*build)(HandDisc&);
    std::set<std::string> paths;  // what the import keeps
    bool skips;                   // some record is reported as skipped
    std::uint32_t discBlocks = 0;
};

const HostileCase HostileCases[] = {
    {"zero record length ends the block, not the directory",
     [](HandDisc& d) {
         d.file(u"a.txt", 30, 10);
         d.skipBytes(1);  // a record length of 0 ends the block's records ...
         d.file(u"unseen.txt", 31, 10);
         d.continueAt(21);  // ... and the next block is read on
         d.file(u"b.txt", 31, 10);
         std::uint8_t* root = d.block(16) + 156;
         putLe32(root + 10, 4096);
     },
     {"\\a.txt", "\\b.txt"}, false},
    {"record shorter than 34 bytes",
     [](HandDisc& d) {
         d.file(u"a.txt", 30, 10);
         d.record(31, 10, 0, bytesOf("X"), 20);
         d.file(u"lost.txt", 31, 10);
     },
     {"\\a.txt"}, true},
    {"record running past its block",
     [](HandDisc& d) {
         for (int i = 0; i < 7; ++i) {
             std::u16string name = u"f";  // appended in place: GCC 12 -O3 warns on "f" + string
             name += static_cast<char16_t>(u'0' + i);
             d.record(30, 10, 0, ucs2(name), 254);
         }
         d.record(31, 10, 0, ucs2(u"past"), 250);  // 1846 + 250 > 2048
     },
     {"\\f0", "\\f1", "\\f2", "\\f3", "\\f4", "\\f5", "\\f6"}, true},
    {"identifier longer than its record",
     [](HandDisc& d) {
         d.record(30, 10, 0, ucs2(u"x"), 40, 60);
         d.file(u"after.txt", 31, 10);
     },
     {}, true},
    {"Joliet name of odd byte length",
     [](HandDisc& d) { d.record(30, 10, 0, {0, 'a', 0, 'b', 0, 'c', 0}); },
     {"\\abc"}, false},
    {"file past the disc's end, and a file of 2 GiB",
     [](HandDisc& d) {
         d.file(u"far.bin", 5000000, 10);
         d.file(u"huge.bin", 30, 0x80000000u);
         d.file(u"ok.bin", 30, 10);
     },
     {"\\ok.bin"}, true},
    {"directory of 2 GiB",
     [](HandDisc& d) {
         d.folder(u"big", 22, 0x80000000u);
         d.openDirectory(22, HandDisc::Root);
         d.file(u"in.txt", 30, 10);
     },
     {"\\big\\", "\\big\\in.txt"}, true},
    {"directory that holds the root",
     [](HandDisc& d) {
         d.folder(u"loop", 22);
         d.file(u"top.txt", 30, 10);
         d.openDirectory(22, HandDisc::Root);
         d.folder(u"back", HandDisc::Root);
         d.file(u"inner.txt", 30, 10);
     },
     {"\\loop\\", "\\loop\\back\\", "\\loop\\inner.txt", "\\top.txt"}, true},
    {"directory that holds itself",
     [](HandDisc& d) {
         d.folder(u"self", 22);
         d.openDirectory(22, HandDisc::Root);
         d.folder(u"self", 22);
     },
     {"\\self\\", "\\self\\self\\"}, true},
    {"directory block that cannot be read holds stale records",
     [](HandDisc& d) {
         d.file(u"first.txt", 30, 10);
         std::uint8_t* root = d.block(16) + 156;
         putLe32(root + 10, 3 * 2048);
         d.continueAt(22);
         d.file(u"third.txt", 31, 10);
         d.unreadable.insert(21);
         HandDisc ghost;
         ghost.file(u"ghost.txt", 31, 10);
         std::array<std::uint8_t, BlockBytes> stale{};
         std::memcpy(stale.data(), ghost.block(HandDisc::Root), BlockBytes);
         d.setStale(stale);
     },
     {"\\first.txt", "\\third.txt"}, false},
    {"volume size past the disc's end",
     [](HandDisc& d) {
         putLe32(d.block(16) + 80, 0xFFFFFFFFu);
         d.folder(u"big", 22, 0xFFFFF800u);
         d.file(u"data.bin", 60, 8192);
     },
     {"\\big\\", "\\data.bin"}, true, 64},
    {"name over 98 characters",
     [](HandDisc& d) {
         d.file(std::u16string(99, u'n'), 30, 10);
         d.file(u"kept.txt", 31, 10);
     },
     {"\\kept.txt"}, true},
    {"a file named like a folder beside it, a file without data",
     [](HandDisc& d) {
         d.folder(u"same", 22);
         d.file(u"same", 30, 10);
         d.file(u"nodata.bin", 0, 10);
         d.openDirectory(22, HandDisc::Root);
     },
     {"\\same\\"}, true},
    {"multi-extent file in following sections",
     [](HandDisc& d) {
         d.file(u"split.bin", 30, 4096, 0x80);
         d.file(u"split.bin", 32, 100);
         d.file(u"gap.bin", 40, 2048, 0x80);
         d.file(u"gap.bin", 45, 100);
     },
     {"\\split.bin"}, true},
};

TEST(SessionImportTest, HostileDiscsEndInACleanPartialImport) {
    for (const HostileCase& c : HostileCases) {
        SCOPED_TRACE(c.name);
        HandDisc disc;
        c.build(disc);
        auto project = newProject();
        ImportReport report = importSessionTree(*project, disc.reader(), 0, c.discBlocks, project->root);
        EXPECT_EQ(pathsOf(*project), c.paths);
        EXPECT_EQ(report.skippedRecords != 0, c.skips);
        EXPECT_LE(disc.reads, 16u + disc.blockCount() + 2) << "reads are bounded by the disc";
    }
}

TEST(SessionImportTest, HostileDetailsKeepWhatIsSound) {
    {
        SCOPED_TRACE("the 99-character name sets ErrInvalidName and the import goes on");
        HandDisc disc;
        disc.file(std::u16string(99, u'n'), 30, 10);
        disc.file(std::u16string(98, u'm'), 31, 10);
        auto project = newProject();
        importSessionTree(*project, disc.reader(), 0, 0, project->root);
        EXPECT_EQ(project->pendingError.load(), ErrInvalidName);
        EXPECT_EQ(project->itemCount(), 1);
    }
    {
        SCOPED_TRACE("a multi-extent file becomes one item over its sections");
        HandDisc disc;
        disc.file(u"split.bin", 30, 4096, 0x80);
        disc.file(u"split.bin", 32, 100);
        auto project = newProject();
        importSessionTree(*project, disc.reader(), 0, 0, project->root);
        const FileItem* item = treeOf(*project)[u"\\split.bin"];
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->size, 4196u);
        EXPECT_EQ(item->dataBlock, 30u);
    }
    {
        SCOPED_TRACE("a chain of folders deeper than the limit stops at the limit");
        HandDisc disc(200, 200);
        std::uint32_t parent = HandDisc::Root;
        for (std::uint32_t level = 0; level < image::MaxImportDepth + 10; ++level) {
            std::uint32_t at = 30 + level;
            disc.folder(u"d", at);
            disc.openDirectory(at, parent);
            parent = at;
        }
        auto project = newProject();
        ImportReport report = importSessionTree(*project, disc.reader(), 0, 0, project->root);
        // The folder one level too deep is added, its directory not read.
        EXPECT_EQ(project->folderCount(), static_cast<std::int32_t>(image::MaxImportDepth) + 2);
        EXPECT_GT(report.skippedRecords, 0u);
    }
    {
        SCOPED_TRACE("no descriptor: nothing is read past the descriptor area");
        HandDisc disc;
        std::memset(disc.block(16), 0, BlockBytes);
        auto project = newProject();
        ImportReport report = importSessionTree(*project, disc.reader(), 0, 0, project->root);
        EXPECT_FALSE(report.descriptorFound);
        EXPECT_EQ(project->itemCount(), 0);
    }
}

TEST(SessionImportTest, TheImportStopsAtTheItemLimitWithProjectFull) {
    auto project = newProject();
    platform::FindData record;
    record.sizeLow = 1;
    for (int i = 0; i < MaxItems - 2; ++i) {
        std::string name = "f";  // appended in place: GCC 12 -O3 warns on "f" + string
        name += std::to_string(i);
        platform::setFileName(record, platform::toUtf16(name));
        ASSERT_NE(insertItem(*project, project->root, record, {}, 100, 1), nullptr);
    }
    HandDisc disc;
    for (int i = 0; i < 5; ++i) {
        std::u16string name = u"new";  // appended in place: GCC 12 -O3 warns on "new" + string
        name += static_cast<char16_t>(u'0' + i);
        disc.file(name, 30, 10);
    }
    ImportReport report = importSessionTree(*project, disc.reader(), 0, 0, project->root);
    EXPECT_TRUE(report.stoppedAtLimit);
    EXPECT_EQ(project->pendingError.load(), ErrProjectFull);
    EXPECT_EQ(project->itemCount(), MaxItems);
}

// The saved corpus of the fuzz target: each file is a disc's blocks from
// block 0. None may crash, read without bound, or give a tree that cannot
// be planned safely.
TEST(SessionImportTest, SavedFuzzCorpusReplaysCleanly) {
    const std::filesystem::path corpus = std::filesystem::path(VELK_SOURCE_DIR) / "fuzz" / "corpus";
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no saved corpus";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        ImageFileDisc disc;
        disc.bytes = readFile(entry.path().string());
        disc.bytes.resize((disc.bytes.size() + BlockBytes - 1) / BlockBytes * BlockBytes);
        const auto blocks = static_cast<std::uint32_t>(disc.bytes.size() / BlockBytes);
        std::uint32_t reads = 0;
        image::BlockReader counting = [&](std::uint32_t lba, std::uint8_t* out) {
            ++reads;
            return disc.reader()(lba, out);
        };
        auto project = newProject();
        importSessionTree(*project, counting, 0, blocks, project->root);
        EXPECT_LE(reads, 16u + blocks) << entry.path();
        // As in the fuzz target: the tree plans and gives a next session's
        // header.
        if (image::PrepareImage(*project) > 0) (void)image::GenerateHeader(*project, blocks, blocks);
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace velk::testing
