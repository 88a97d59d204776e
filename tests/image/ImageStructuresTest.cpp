// Byte-level checks of the on-disc records: volume descriptors, path tables,
// directory records, header generation, El Torito and the UDF structures,
// read back from generated headers and generator output.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine/image/DirectoryRecords.h"
#include "engine/image/ElTorito.h"
#include "engine/image/Endian.h"
#include "engine/image/HeaderGenerator.h"
#include "engine/image/ImageOperations.h"
#include "engine/image/Layout.h"
#include "engine/image/PathTables.h"
#include "engine/image/UdfDescriptors.h"
#include "engine/image/UdfFiles.h"
#include "engine/image/VolumeLabels.h"
#include "image/ImageTestSupport.h"
#include "platform/Text.h"

namespace velk::testing {
namespace {

using namespace velk::image;

const std::uint8_t* block(const ImageProject& project, std::uint32_t relative) {
    return project.headerBuffer.get() + std::size_t{relative} * BlockBytes;
}

// The whole UDF area, produced with calls of the given sizes in turn.
std::vector<std::uint8_t> udfArea(ImageProject& project, std::vector<std::uint32_t> sizes) {
    std::vector<std::uint8_t> area(std::size_t{project.udf.areaBlocks} * BlockBytes);
    beginUdfArea(project);
    std::uint32_t done = 0;
    for (std::size_t call = 0; done < project.udf.areaBlocks; ++call) {
        std::uint32_t k = std::min(sizes[call % sizes.size()], project.udf.areaBlocks - done);
        EXPECT_EQ(produceUdfBlocks(project, area.data() + std::size_t{done} * BlockBytes, k), 1);
        done += k;
    }
    EXPECT_TRUE(udfAreaDone(project));
    std::uint8_t extra[BlockBytes];
    EXPECT_EQ(produceUdfBlocks(project, extra, 1), 0);
    return area;
}

// `text` followed by spaces up to `length` (built in place: GCC 12 at -O3
// warns falsely about the overlap of "literal" + std::string).
std::string spacePadded(const char* text, std::size_t length) {
    std::string padded(text);
    padded.resize(length, ' ');
    return padded;
}

std::string bytesAt(const std::uint8_t* at, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(at), length);
}

void expectValidTag(const std::uint8_t* descriptor, std::uint16_t id, std::uint32_t location) {
    EXPECT_EQ(getLe16(descriptor), id);
    EXPECT_EQ(descriptor[4], tagChecksum(descriptor));
    EXPECT_EQ(getLe16(descriptor + 8), udfCrc(descriptor + 16, getLe16(descriptor + 10)));
    EXPECT_EQ(getLe32(descriptor + 12), location);
}

TEST(ImageStructures, BothByteOrderNumbers) {
    std::uint8_t bytes[8];
    putBoth16(bytes, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 4), (std::vector<std::uint8_t>{1, 0, 0, 1}));
    putBoth16(bytes, 2048);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 4), (std::vector<std::uint8_t>{0, 8, 8, 0}));
    putBoth32(bytes, 0x01020304);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 8),
              (std::vector<std::uint8_t>{4, 3, 2, 1, 1, 2, 3, 4}));
    EXPECT_EQ(readBoth32(bytes), 0x01020304u);
    bytes[7] = 5;
    EXPECT_FALSE(readBoth32(bytes).has_value());
}

TEST(ImageStructures, GenerationRefusesAnUnplannedProject) {
    auto project = newProject();
    EXPECT_EQ(GenerateHeader(*project, 0, 0), 0);
    EXPECT_EQ(project->pendingError.load(), ErrNotPrepared);
    EXPECT_EQ(project->headerBuffer, nullptr);
    PrepareImage(*project);
    addVirtual(*project, u"\\", u"late.txt", 1);
    project->pendingError = 0;
    EXPECT_EQ(GenerateHeader(*project, 0, 0), 0);
    EXPECT_EQ(project->pendingError.load(), ErrNotPrepared);
}

TEST(ImageStructures, FailedHeaderAllocationGivesOutOfMemory) {
    auto project = newProject();
    PrepareImage(*project);
    setHeaderAllocator([](std::size_t) -> std::uint8_t* { return nullptr; });
    EXPECT_EQ(GenerateHeader(*project, 0, 0), 0);
    setHeaderAllocator(nullptr);
    EXPECT_EQ(project->pendingError.load(), ErrOutOfMemory);
    EXPECT_EQ(project->headerBytes, 0u);
    EXPECT_EQ(GenerateHeader(*project, 0, 0), 1);
}

// A tree refilled after planning (names changed without a new plan) must
// not make generation write past the buffer.
TEST(ImageStructures, TreeChangedAfterPlanningNeverOverrunsTheHeader) {
    auto project = newProject();
    project->udfOn = 0;
    for (int i = 0; i < 43; ++i) {
        // Built in place: GCC 12 at -O3 warns falsely (-Wrestrict) about
        // u"literal" + std::u16string.
        std::u16string name = u"n";
        name += char16_t(u'a' + i % 26);
        name += char16_t(u'a' + i / 26);
        name += u"name.bin";
        addVirtual(*project, u"\\", name, 1);
    }
    PrepareImage(*project);
    for (auto& item : project->itemTable) item->isoNameLength = 200;  // grown behind the plan's back
    EXPECT_EQ(GenerateHeader(*project, 0, 0), 0);
    EXPECT_EQ(project->pendingError.load(), ErrNotPrepared);
}

// Folder names grown after planning make the path tables longer than their
// planned blocks: generation fails instead of cutting the tables short.
TEST(ImageStructures, PathTableGrownPastItsBlocksFailsTheHeader) {
    auto project = newProject();
    project->udfOn = 0;
    for (char16_t letter = u'a'; letter < u'a' + 20; ++letter) {
        ASSERT_NE(createFolder(*project, u"\\", std::u16string(1, letter)), nullptr);
    }
    PrepareImage(*project);
    ASSERT_EQ(blocksFor(project->plan.isoPathTableBytes), 1u);
    for (auto& folder : project->folderTable) {
        if (folder.get() != project->root) folder->isoNameLength = 200;  // 20 records of 208 bytes
    }
    std::vector<std::uint8_t> table(BlockBytes);
    EXPECT_FALSE(writePathTable(*project, DirectoryTree::Iso, PathTableType::L, table.data()));
    EXPECT_EQ(GenerateHeader(*project, 0, 0), 0);
    EXPECT_EQ(project->pendingError.load(), ErrNotPrepared);
    EXPECT_EQ(project->headerBuffer, nullptr);
}

TEST(ImageStructures, SmallHeaderWithoutUdf) {
    auto project = newProject();
    project->udfOn = 0;
    setVolumeLabel(*project, "backup 2009");
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    EXPECT_EQ(project->headerBytes, 150u * BlockBytes);
    const std::uint8_t* p = block(*project, 16);
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(std::memcmp(p + 1, "CD001", 5), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 40), 32), spacePadded("BACKUP 2009", 32));
    EXPECT_EQ(readBoth32(p + 80), 160u);
    EXPECT_EQ(readBoth16(p + 128), 2048u);
    EXPECT_EQ(readBoth32(p + 132), 10u);
    EXPECT_EQ(getLe32(p + 140), 19u);
    EXPECT_EQ(getBe32(p + 148), 20u);
    EXPECT_EQ(p[156], 34);
    EXPECT_EQ(readBoth32(p + 158), 23u);
    EXPECT_EQ(readBoth32(p + 166), 2048u);
    EXPECT_EQ(p[181], 0x02);
    EXPECT_EQ(p[6], 1);
    EXPECT_EQ(bytesAt(p + 88, 32), std::string(32, '\0'));  // no escape sequence
    EXPECT_EQ(p[881], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 1024), 8), std::string(8, ' '));

    const std::uint8_t* j = block(*project, 17);
    EXPECT_EQ(j[0], 2);
    EXPECT_EQ(bytesAt(j + 88, 32), std::string("\x25\x2F\x45") + std::string(29, '\0'));
    const char16_t label[] = u"backup 2009";
    for (int i = 0; i < 11; ++i) EXPECT_EQ(getBe16(j + 40 + 2 * i), label[i]);
    for (int i = 62; i < 72; ++i) EXPECT_EQ(j[i], 0);
    EXPECT_EQ(readBoth32(j + 158), 24u);
    EXPECT_EQ(block(*project, 18)[0], 0xFF);

    // Root path-table records and the root's "." and "..".
    const std::uint8_t* l = block(*project, 19);
    EXPECT_EQ(std::vector<std::uint8_t>(l, l + 10), (std::vector<std::uint8_t>{1, 0, 23, 0, 0, 0, 1, 0, 0, 0}));
    const std::uint8_t* m = block(*project, 20);
    EXPECT_EQ(std::vector<std::uint8_t>(m, m + 10), (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 23, 0, 1, 0, 0}));
    const std::uint8_t* dir = block(*project, 23);
    EXPECT_EQ(dir[0], 34);
    EXPECT_EQ(dir[33], 0x00);
    EXPECT_EQ(dir[34 + 33], 0x01);
    for (int i = 68; i < 2048; ++i) ASSERT_EQ(dir[i], 0) << i;
    for (std::uint32_t b = 25; b < 150; ++b) {
        for (std::uint32_t i = 0; i < BlockBytes; ++i) ASSERT_EQ(block(*project, b)[i], 0);
    }
}

TEST(ImageStructures, EmptyLabelGivesSpacesAndZeros) {
    auto project = newProject();
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block(*project, 16) + 40), 32), std::string(32, ' '));
    for (int i = 40; i < 72; ++i) EXPECT_EQ(block(*project, 17)[i], 0);
    EXPECT_EQ(block(*project, 33)[84 + 127], 0);  // UDF logical volume identifier length
}

TEST(ImageStructures, DirectoryRecordsOfChildren) {
    auto project = newProject();
    project->udfOn = 0;
    FileItem* twelve = addVirtual(*project, u"\\", u"ABCDEFGH.TXT", 5, platform::AttrHidden);
    FileItem* eleven = addVirtual(*project, u"\\", u"ABCDEFG.TXT", 0);
    FolderNode* hidden = createFolder(*project, u"\\", u"Work");
    project->itemTable.back()->attributes |= platform::AttrHidden;
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 1000, 1000), 1);
    std::uint8_t id[256];
    std::uint8_t out[256];
    DirectoryRecord r = childDirectoryRecord(*project, *twelve, DirectoryTree::Iso, id);
    EXPECT_EQ(writeDirectoryRecord(out, r), 46u);
    EXPECT_EQ(out[25], 0x01);
    EXPECT_EQ(readBoth32(out + 2), project->plan.dataStart + 1000 + twelve->dataBlock);
    EXPECT_EQ(out[18], 109);  // 2009 - 1900
    EXPECT_EQ(static_cast<std::int8_t>(out[24]), twelve->utcOffsetMinutes / 15);
    r = childDirectoryRecord(*project, *eleven, DirectoryTree::Iso, id);
    EXPECT_EQ(writeDirectoryRecord(out, r), 44u);
    EXPECT_EQ(readBoth32(out + 2), 0u);  // empty file: block 0
    r = childDirectoryRecord(*project, *eleven, DirectoryTree::Joliet, id);
    EXPECT_EQ(writeDirectoryRecord(out, r), 34u + 2 * 11);
    EXPECT_EQ(out[32], 22);
    r = childDirectoryRecord(*project, *project->itemTable.back(), DirectoryTree::Iso, id);
    writeDirectoryRecord(out, r);
    EXPECT_EQ(out[25], 0x03);
    EXPECT_EQ(readBoth32(out + 2), project->plan.isoDirStart + 1000 + hidden->isoBlock);
}

// The records of one directory extent after "." and "..", as a reader walks
// them (a zero length byte ends the block).
std::vector<const std::uint8_t*> childRecords(const ImageProject& project, std::uint32_t extent,
                                              std::uint32_t bytes) {
    std::vector<const std::uint8_t*> records;
    for (std::uint32_t offset = 0; offset < bytes;) {
        const std::uint8_t* r = block(project, extent) + offset;
        if (r[0] == 0) {
            offset = (offset / BlockBytes + 1) * BlockBytes;
            continue;
        }
        records.push_back(r);
        offset += r[0];
    }
    records.erase(records.begin(), records.begin() + 2);
    return records;
}

// A file over 4 GiB - 1 is recorded as sections of at most 4 GiB - 2 KiB,
// every one but the last flagged, the extents one after another; in both
// trees, and planning counts every record.
TEST(ImageStructures, FilesOf4GiBAndMoreAreMultiExtent) {
    struct Case {
        std::uint64_t size;
        std::uint32_t records;
    } cases[] = {
        {0xFFFFFFFFull, 1},
        {0x100000000ull, 2},
        {(5ull << 30) + 123, 2},
        {3 * MaxSectionBytes + 1, 4},
    };
    for (const Case& c : cases) {
        auto project = newProject();
        project->udfOn = 0;
        // Enough records before it that the sections cross a block boundary.
        for (int i = 0; i < 40; ++i) {
            std::u16string name = u"filler number ";
            name += platform::toUtf16(std::to_string(100 + i));
            name += u".txt";
            addVirtual(*project, u"\\", name, 1);
        }
        FileItem* big = addVirtual(*project, u"\\", u"big.bin", c.size);
        FileItem* after = addVirtual(*project, u"\\", u"after.bin", 1);
        PrepareImage(*project);
        ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
        EXPECT_EQ(directoryRecordCount(*big), c.records);
        EXPECT_EQ(after->dataBlock, big->dataBlock + blocksFor(c.size));
        for (DirectoryTree tree : {DirectoryTree::Iso, DirectoryTree::Joliet}) {
            const FolderNode& root = *project->root;
            auto records = childRecords(*project, folderExtent(*project, root, tree), folderBytes(root, tree));
            ASSERT_EQ(records.size(), 40 + c.records + 1) << c.size;
            std::uint64_t total = 0;
            for (std::uint32_t i = 0; i < c.records; ++i) {
                const std::uint8_t* r = records[40 + i];
                const bool last = i + 1 == c.records;
                EXPECT_EQ(r[25], last ? 0x00 : 0x80) << c.size << " section " << i;
                EXPECT_EQ(readBoth32(r + 2), project->plan.dataStart + big->dataBlock + i * MaxSectionBlocks);
                if (!last) {
                    EXPECT_EQ(readBoth32(r + 10), MaxSectionBytes);
                }
                total += *readBoth32(r + 10);
                EXPECT_EQ(r[32], records[40][32]);  // every section carries the name
            }
            EXPECT_EQ(total, c.size);
            EXPECT_EQ(readBoth32(records.back() + 2), project->plan.dataStart + after->dataBlock);
        }
    }
}

// Record dates carry the offset in force at the item's own date; UDF
// timestamps carry their real zone. "." and ".." are dated like the folder.
TEST(ImageStructures, DatesCarryTheOffsetOfTheirOwnDate) {
    ScopedTimeZone berlin("Europe/Berlin");
    auto project = newProject();
    FolderNode* folder = createFolder(*project, u"\\", u"dir");
    FileItem* winter = addVirtual(*project, u"\\dir", u"winter.txt", 1, 0, WinterFileTime);
    FileItem* summer = addVirtual(*project, u"\\dir", u"summer.txt", 1, 0, SummerFileTime);
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    auto area = udfArea(*project, {255});
    struct Case {
        const FileItem* item;
        std::uint8_t hour;
        std::int8_t quarters;
        std::uint16_t udfZone;
    } cases[] = {{winter, 13, 4, 0x1000 | 60}, {summer, 14, 8, 0x1000 | 120}};
    for (DirectoryTree tree : {DirectoryTree::Iso, DirectoryTree::Joliet}) {
        auto records = childRecords(*project, folderExtent(*project, *folder, tree), folderBytes(*folder, tree));
        ASSERT_EQ(records.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            const std::uint8_t* date = records[i] + 18;
            EXPECT_EQ(date[0], 109);
            EXPECT_EQ(date[3], cases[i].hour);
            EXPECT_EQ(static_cast<std::int8_t>(date[6]), cases[i].quarters);
        }
        // "." is the folder's date, ".." the root's.
        const std::uint8_t* dot = block(*project, folderExtent(*project, *folder, tree));
        const std::uint8_t* folderRecord =
            childRecords(*project, folderExtent(*project, *project->root, tree), folderBytes(*project->root, tree))[0];
        EXPECT_EQ(bytesAt(dot + 18, 7), bytesAt(folderRecord + 18, 7));
        EXPECT_EQ(dot[34 + 18], project->rootDate.year - 1900);
        EXPECT_EQ(static_cast<std::int8_t>(dot[34 + 24]), project->rootUtcOffsetMinutes / 15);
    }
    EXPECT_EQ(block(*project, 16)[156 + 18], project->rootDate.year - 1900);
    for (const Case& c : cases) {
        const std::uint8_t* entry = area.data() + std::size_t{c.item->udfEntryBlock - project->udf.areaStart} * BlockBytes;
        for (int at : {72, 84, 96}) {
            EXPECT_EQ(getLe16(entry + at), c.udfZone);
            EXPECT_EQ(entry[at + 6], c.hour);
        }
    }
    const std::uint8_t* folderEntry = area.data() + std::size_t{folder->udf.entryBlock - project->udf.areaStart} * BlockBytes;
    EXPECT_EQ(getLe16(folderEntry + 84), 0x1000 | (static_cast<std::uint16_t>(folder->item->utcOffsetMinutes) & 0xFFF));
    EXPECT_EQ(getLe16(folderEntry + 86), folder->item->date.year);
}

// The long-name descriptor is an enhanced descriptor: version 2, no escape
// sequence (with one, readers decode its 8-bit names as UCS-2); its path
// tables name folders as its directory records do.
TEST(ImageStructures, LongNameDescriptorAndPathTables) {
    auto project = newProject();
    resetProject(*project, 1, 0);
    project->udfOn = 0;
    createFolder(*project, u"\\", u"Photographs 2008");
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    const std::uint8_t* x = block(*project, 17);
    EXPECT_EQ(x[0], 2);
    EXPECT_EQ(x[6], 2);
    EXPECT_EQ(x[881], 2);
    EXPECT_EQ(bytesAt(x + 88, 32), std::string(32, '\0'));
    EXPECT_EQ(bytesAt(block(*project, 16) + 88, 32), std::string(32, '\0'));
    EXPECT_EQ(block(*project, 18)[88 + 2], 0x45);  // Joliet keeps its own
    const std::uint8_t* table = block(*project, project->plan.isoPathTableL) + 10;
    EXPECT_EQ(bytesAt(table + 8, table[0]), "PHOTOGRAPHS 2008");
    const std::uint8_t* record =
        childRecords(*project, folderExtent(*project, *project->root, DirectoryTree::Iso), 2048)[0];
    EXPECT_EQ(bytesAt(record + 33, record[32]), "PHOTOGRAPHS 2008");
    EXPECT_EQ(project->plan.isoPathTableBytes, 10u + 8 + 16);
}

TEST(ImageStructures, VolumeSetIdentifierIsUniquePerVolume) {
    auto first = newProject();
    auto second = newProject();
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    PrepareImage(*first);
    PrepareImage(*second);
    ASSERT_EQ(GenerateHeader(*first, 0, 0), 1);
    ASSERT_EQ(GenerateHeader(*second, 0, 0), 1);
    const std::string a = bytesAt(block(*first, 32) + 73, 16);
    const std::string b = bytesAt(block(*second, 32) + 73, 16);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos) << a;
    // The first eight characters: the time, in hexadecimal.
    const auto stamp = static_cast<std::uint32_t>(std::stoul(a.substr(0, 8), nullptr, 16));
    EXPECT_LE(stamp - now, 5u);
}

TEST(ImageStructures, PathTableRecordPadding) {
    std::uint8_t out[32];
    const std::uint8_t odd[3] = {'A', 'B', 'C'};
    EXPECT_EQ(writePathTableRecord(out, PathTableType::L, 0x01020304, 1, odd, 3), 12u);
    EXPECT_EQ(out[11], 0);
    EXPECT_EQ(getLe32(out + 2), 0x01020304u);
    EXPECT_EQ(writePathTableRecord(out, PathTableType::M, 0x01020304, 2, odd, 2), 10u);
    EXPECT_EQ(getBe32(out + 2), 0x01020304u);
    EXPECT_EQ(getBe16(out + 6), 2u);
}

TEST(ImageStructures, AppendedSessionShiftsEveryAddress) {
    constexpr std::uint32_t S = 11400;
    auto project = newProject();
    project->bootImagePath = "/boot.bin";
    project->bootImageSize = 2048;
    addVirtual(*project, u"\\", u"f.txt", 10);
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, S, S), 1);
    const LayoutPlan& plan = project->plan;
    const std::uint8_t* p = block(*project, 16);
    EXPECT_EQ(readBoth32(p + 80), plan.imageBlocks + S);
    EXPECT_EQ(getLe32(p + 140), plan.isoPathTableL + S);
    EXPECT_EQ(getBe32(p + 148), plan.isoPathTableM + S);
    EXPECT_EQ(readBoth32(p + 158), plan.isoDirStart + S);
    const std::uint8_t* bootRecord = block(*project, 17);
    EXPECT_EQ(bootRecord[0], 0);
    EXPECT_EQ(getLe32(bootRecord + 71), plan.bootCatalogBlock + S);  // absolute, like every address
    const std::uint8_t* catalog = block(*project, plan.bootCatalogBlock);
    EXPECT_EQ(getLe32(catalog + 40), plan.bootImageBlock + S);
    const std::uint8_t* joliet = block(*project, 18);
    EXPECT_EQ(getLe32(joliet + 140), plan.jolietPathTableL + S);
    EXPECT_EQ(readBoth32(joliet + 158), plan.jolietDirStart + S);
    const std::uint8_t* l = block(*project, plan.isoPathTableL);
    EXPECT_EQ(getLe32(l + 2), plan.isoDirStart + S);

    const std::uint8_t* anchor = block(*project, 256);
    expectValidTag(anchor, TagAnchor, 256 + S);
    EXPECT_EQ(getLe32(anchor + 20), 32 + S);
    EXPECT_EQ(getLe32(anchor + 28), 48 + S);
    expectValidTag(block(*project, 32), TagPrimaryVolume, 32 + S);
    expectValidTag(block(*project, 53), TagTerminating, 53 + S);
    const std::uint8_t* partition = block(*project, 34);
    EXPECT_EQ(getLe32(partition + 188), 257u);
    EXPECT_EQ(getLe32(partition + 192), S + project->udf.partitionLength);
    expectValidTag(block(*project, 257), TagFileSet, S);
    expectValidTag(block(*project, 258), TagTerminating, S + 1);
    EXPECT_EQ(getLe32(block(*project, 257) + 404), project->root->udf.entryBlock - 257 + S);
    std::uint8_t closing[BlockBytes];
    writeClosingAnchor(*project, closing);
    expectValidTag(closing, TagAnchor, plan.imageBlocks - 1 + S);

    auto area = udfArea(*project, {255});
    FileItem* file = project->itemTable[0].get();
    const std::uint8_t* entry = area.data() + std::size_t{file->udfEntryBlock - project->udf.areaStart} * BlockBytes;
    expectValidTag(entry, TagFileEntry, file->udfEntryBlock - 257 + S);
    EXPECT_EQ(getLe32(entry + 180), S - 257 + plan.dataStart + file->dataBlock);
}

TEST(ImageStructures, BootCatalogChecksumAndMedia) {
    struct Case {
        std::uint32_t size;
        std::uint8_t media;
        std::uint16_t sectors;
    };
    for (Case c : {Case{2048, 0, 4}, Case{1228800, 1, 1}, Case{1474560, 2, 1}, Case{2949120, 3, 1}}) {
        auto project = newProject();
        project->bootImagePath = "/boot";
        project->bootImageSize = c.size;
        PrepareImage(*project);
        std::uint8_t catalog[BlockBytes];
        writeBootCatalog(*project, catalog);
        EXPECT_EQ(validationEntrySum(catalog), 0);
        EXPECT_EQ(getLe16(catalog + 28), 0x55AA);
        EXPECT_EQ(catalog[30], 0x55);
        EXPECT_EQ(catalog[31], 0xAA);
        EXPECT_EQ(catalog[32], 0x88);
        EXPECT_EQ(catalog[33], c.media);
        EXPECT_EQ(getLe16(catalog + 38), c.sectors);
    }
    EXPECT_FALSE(bootMediaForSize(1000000).has_value());
}

TEST(ImageStructures, SetBootImageAcceptsOnlyKnownSizes) {
    auto project = newProject();
    std::string good = ::testing::TempDir() + "velk-boot-good.bin";
    std::string bad = ::testing::TempDir() + "velk-boot-bad.bin";
    { std::FILE* f = std::fopen(good.c_str(), "wb"); std::fwrite(std::string(2048, 'b').data(), 1, 2048, f); std::fclose(f); }
    { std::FILE* f = std::fopen(bad.c_str(), "wb"); std::fwrite(std::string(1000, 'b').data(), 1, 1000, f); std::fclose(f); }
    EXPECT_EQ(SetBootImage(*project, nullptr), 0);
    EXPECT_EQ(SetBootImage(*project, good.c_str()), 1);
    EXPECT_EQ(std::string(GetBootImage(*project)), good);
    EXPECT_EQ(SetBootImage(*project, bad.c_str()), 0);
    EXPECT_EQ(std::string(GetBootImage(*project)), "");
    EXPECT_EQ(project->bootImageSize, 1000u);
    std::remove(good.c_str());
    std::remove(bad.c_str());
}

TEST(ImageStructures, UdfTagChecksumAndCrc) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(udfCrc(digits, 9), 0x31C3);
    std::uint8_t tag[16] = {0xFF, 0xFF, 0x01, 0, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    tag[6] = 0xF4;  // 0xFF + 0xFF + 0x01 + 0xF4 = 0x1F3
    EXPECT_EQ(tagChecksum(tag), 0xF3);
}

TEST(ImageStructures, UdfLabelInEveryStructure) {
    auto project = newProject();
    setVolumeLabelW(*project, u"Fifteen chars!!Cut");
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    EXPECT_EQ(project->udf.labelBytes, 31);
    const std::uint8_t* lvd = block(*project, 33);
    EXPECT_EQ(lvd[84], 16);
    EXPECT_EQ(getBe16(lvd + 85), u'F');
    EXPECT_EQ(getBe16(lvd + 85 + 28), u'!');
    EXPECT_EQ(lvd[84 + 127], 31);
    const std::uint8_t* pvd = block(*project, 32);
    EXPECT_EQ(pvd[24 + 31], 31);
    EXPECT_EQ(pvd[72], 8);
    EXPECT_EQ(pvd[72 + 127], 17);
    EXPECT_EQ(block(*project, 257)[304 + 31], 31);
    EXPECT_EQ(block(*project, 36)[116 + 127], 31);
}

TEST(ImageStructures, UdfEmptyProjectArea) {
    auto project = newProject();
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    auto area = udfArea(*project, {1});
    ASSERT_EQ(area.size(), 2u * BlockBytes);
    expectValidTag(area.data(), TagFileEntry, 265 - 257);
    EXPECT_EQ(getLe64(area.data() + 56), 40u);
    EXPECT_EQ(getLe64(area.data() + 160), 0u);  // the root's unique id
    const std::uint8_t* parent = area.data() + BlockBytes;
    expectValidTag(parent, TagFileIdentifier, 266 - 257);
    EXPECT_EQ(parent[18], 0x0A);
    EXPECT_EQ(getLe32(parent + 24), 265u - 257u);
    for (std::uint32_t i = 40; i < BlockBytes; ++i) ASSERT_EQ(parent[i], 0);
    const std::uint8_t* integrity = block(*project, 64);
    expectValidTag(integrity, TagIntegrity, 64);
    EXPECT_EQ(getLe64(integrity + 40), 17u);
}

TEST(ImageStructures, UdfFolderWithOneFile) {
    auto project = newProject();
    FileItem* file = addVirtual(*project, u"\\", u"a.txt", 0);
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 0, 0), 1);
    auto area = udfArea(*project, {2});
    EXPECT_EQ(getLe64(area.data() + 56), 92u);
    EXPECT_EQ(getLe64(area.data() + 64), 1u);
    const std::uint8_t* fid = area.data() + BlockBytes + 40;
    expectValidTag(fid, TagFileIdentifier, 266 - 257);
    EXPECT_EQ(fid[19], 11);
    EXPECT_EQ(fid[38], 16);
    EXPECT_EQ(getLe32(fid + 24), file->udfEntryBlock - 257);
    const std::uint8_t* entry = area.data() + 2 * BlockBytes;
    EXPECT_EQ(getLe64(entry + 56), 0u);
    for (int i = 176; i < 2048; ++i) ASSERT_EQ(entry[i], 0);  // no allocation descriptors
    EXPECT_EQ(getLe64(entry + 160), 16u);
}

TEST(ImageStructures, UdfExtentsOfAThreeGigabyteFile) {
    auto project = newProject();
    FileItem* file = addVirtual(*project, u"\\", u"huge.bin", 3221225472ull);
    PrepareImage(*project);
    std::uint8_t entry[BlockBytes];
    writeFileFileEntry(*project, *file, 16, entry);
    const std::uint32_t first = project->plan.dataStart + file->dataBlock - 257;
    const std::uint32_t lengths[] = {0x3FFFF800, 0x3FFFF800, 0x3FFFF800, 6144, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(getLe32(entry + 176 + 8 * i), lengths[i]) << i;
        EXPECT_EQ(getLe32(entry + 180 + 8 * i), first + i * 524287u) << i;
    }
    // The terminator: length 0 at block 0, so no reader sees a block past
    // the partition.
    EXPECT_EQ(getLe32(entry + 176 + 32), lengths[4]);
    EXPECT_EQ(getLe32(entry + 180 + 32), 0u);
    EXPECT_EQ(getLe32(entry + 176 + 40), 0u);
    EXPECT_EQ(getLe64(entry + 56), 3221225472ull);
    EXPECT_EQ(getLe64(entry + 64), 1572864u);
}

// 60 names of 40 units (UDF adds no "." to a name without one): descriptors
// of 120 bytes, so the stream (40 + 7200 bytes) spans four blocks with
// descriptors across each boundary.
TEST(ImageStructures, UdfIdentifierStreamAcrossBlocksAndCalls) {
    auto project = newProject();
    createFolder(*project, u"\\", u"sub");
    for (int i = 0; i < 60; ++i) {
        std::u16string name = u"a name of exactly forty units, number " + std::u16string(1, char16_t(u'A' + i / 26)) +
                              std::u16string(1, char16_t(u'a' + i % 26));
        addVirtual(*project, u"\\sub", name, 1);
    }
    PrepareImage(*project);
    ASSERT_EQ(GenerateHeader(*project, 500, 500), 1);
    auto whole = udfArea(*project, {255});
    auto single = udfArea(*project, {1});
    auto mixed = udfArea(*project, {3, 1, 2});
    EXPECT_TRUE(whole == single);
    EXPECT_TRUE(whole == mixed);

    FolderNode* sub = project->folderTable[1].get();
    ASSERT_EQ(sub->udf.idBytes, 7240u);
    const std::uint8_t* stream = whole.data() + std::size_t{sub->udf.idBlock - project->udf.areaStart} * BlockBytes;
    std::uint32_t offset = 0;
    int crossing = 0;
    std::vector<std::uint64_t> ids;
    while (offset < sub->udf.idBytes) {
        const std::uint8_t* fid = stream + offset;
        std::uint32_t length = getLe16(fid + 10) + 16;
        expectValidTag(fid, TagFileIdentifier, sub->udf.idBlock + offset / BlockBytes - 257 + 500);
        if (offset / BlockBytes != (offset + length - 1) / BlockBytes) ++crossing;
        offset += length;
    }
    EXPECT_EQ(offset, 7240u);
    EXPECT_EQ(crossing, 3);
    for (std::uint32_t i = 7240; i < 4 * BlockBytes; ++i) ASSERT_EQ(stream[i], 0);

    // Unique identifiers in generation order: root 0, then 16, 17, ...
    for (std::uint32_t b = 0; b < project->udf.areaBlocks; ++b) {
        const std::uint8_t* d = whole.data() + std::size_t{b} * BlockBytes;
        if (getLe16(d) == TagFileEntry && getLe32(d + 12) == b + project->udf.areaStart - 257 + 500) {
            ids.push_back(getLe64(d + 160));
        }
    }
    ASSERT_EQ(ids.size(), 62u);
    EXPECT_EQ(ids[0], 0u);
    for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_EQ(ids[i], 15 + i);
}

}  // namespace
}  // namespace velk::testing
