// Layout planning: block numbers of the fixed structures, file data
// placement, the directory block rule and repeatability.
#include <gtest/gtest.h>

#include "engine/image/DirectoryRecords.h"
#include "engine/image/ImageOperations.h"
#include "engine/image/Layout.h"
#include "image/ImageTestSupport.h"

namespace velk::testing {
namespace {

using image::DirectoryTree;

TEST(ImageLayout, EmptyProjectWithUdf) {
    auto project = newProject();
    EXPECT_EQ(image::PrepareImage(*project), 268);
    const LayoutPlan& plan = project->plan;
    EXPECT_EQ(project->udf.vrsStart, 19u);
    EXPECT_EQ(plan.isoPathTableL, 259u);
    EXPECT_EQ(plan.isoPathTableM, 260u);
    EXPECT_EQ(plan.jolietPathTableL, 261u);
    EXPECT_EQ(plan.jolietPathTableM, 262u);
    EXPECT_EQ(plan.isoDirStart, 263u);
    EXPECT_EQ(plan.jolietDirStart, 264u);
    EXPECT_EQ(project->root->udf.entryBlock, 265u);
    EXPECT_EQ(project->root->udf.idBlock, 266u);
    EXPECT_EQ(project->udf.areaBlocks, 2u);
    EXPECT_EQ(plan.dataStart, 267u);
    EXPECT_EQ(plan.imageBlocks, 288u);
    EXPECT_EQ(project->udf.closingAnchor, 287u);
    EXPECT_EQ(project->udf.partitionLength, 288u - 258u);
    EXPECT_LE(project->padBlocks, 0);
    EXPECT_EQ(plan.headerBlocks, 265u);
    EXPECT_EQ(project->prepared, 1);
    EXPECT_EQ(project->jobs.jobState.load(), JobIdle);
}

TEST(ImageLayout, EmptyProjectWithoutUdf) {
    auto project = newProject();
    project->udfOn = 0;
    EXPECT_EQ(image::PrepareImage(*project), 150);
    const LayoutPlan& plan = project->plan;
    EXPECT_EQ(plan.isoPathTableL, 19u);
    EXPECT_EQ(plan.isoPathTableM, 20u);
    EXPECT_EQ(plan.jolietPathTableL, 21u);
    EXPECT_EQ(plan.jolietPathTableM, 22u);
    EXPECT_EQ(plan.isoDirStart, 23u);
    EXPECT_EQ(plan.jolietDirStart, 24u);
    EXPECT_EQ(project->padBlocks, 125);
    EXPECT_EQ(plan.dataStart, 150u);
    EXPECT_EQ(plan.imageBlocks, 160u);
}

TEST(ImageLayout, DescriptorCountFollowsSwitches) {
    struct Case {
        int joliet, longNames;
        std::uint32_t firstPathTable;  // UDF off: V
    };
    for (Case c : {Case{1, 0, 19}, Case{0, 0, 18}, Case{1, 1, 20}, Case{0, 1, 19}}) {
        auto project = newProject();
        project->udfOn = 0;
        project->jolietOn = c.joliet;
        if (c.longNames) resetProject(*project, 1, 0);
        image::PrepareImage(*project);
        EXPECT_EQ(project->plan.isoPathTableL, c.firstPathTable) << c.joliet << c.longNames;
    }
}

TEST(ImageLayout, FileDataBlocks) {
    auto project = newProject();
    project->udfOn = 0;
    FileItem* empty = addVirtual(*project, u"\\", u"empty.bin", 0);
    FileItem* one = addVirtual(*project, u"\\", u"one.bin", 1);
    FileItem* exact = addVirtual(*project, u"\\", u"exact.bin", 2048);
    FileItem* over = addVirtual(*project, u"\\", u"over.bin", 2049);
    FileItem* last = addVirtual(*project, u"\\", u"last.bin", 5);
    image::PrepareImage(*project);
    EXPECT_EQ(empty->dataBlock, 0u);
    EXPECT_EQ(one->dataBlock, 0u);
    EXPECT_EQ(exact->dataBlock, 1u);
    EXPECT_EQ(over->dataBlock, 2u);
    EXPECT_EQ(last->dataBlock, 4u);
    EXPECT_EQ(project->plan.dataBlocks, 5u);
    EXPECT_EQ(project->plan.imageBlocks, 160u);  // 150 + 5, rounded to 32
}

TEST(ImageLayout, ImportedItemKeepsItsBlockAndTakesNone) {
    auto project = newProject();
    project->udfOn = 0;
    platform::FindData record;
    platform::setFileName(record, u"old.txt");
    record.sizeLow = 5000;
    FileItem* imported = insertItem(*project, project->root, record, {}, 777, 1);
    FileItem* fresh = addVirtual(*project, u"\\", u"new.txt", 10);
    image::PrepareImage(*project);
    EXPECT_EQ(imported->dataBlock, 777u);
    EXPECT_EQ(fresh->dataBlock, 0u);
    EXPECT_EQ(project->plan.dataBlocks, 1u);
}

// Names of 12 ISO bytes give records of 46 bytes. 43 of them after "." and
// ".." use 68 + 43 * 46 = 2046 bytes; a 44th opens a second block. A 2-byte
// record length difference is made up by one 11-byte name (44 bytes).
TEST(ImageLayout, DirectoryBlockRuleFullBlockAndOverflow) {
    image::DirectoryBlockRule rule;
    for (int i = 0; i < 43; ++i) EXPECT_EQ(rule.place(46), 0u);
    EXPECT_EQ(rule.free(), 2u);
    EXPECT_EQ(rule.blocks(), 1u);
    EXPECT_EQ(rule.place(46), 2u);  // padding before the record that opens block 2
    EXPECT_EQ(rule.blocks(), 2u);

    image::DirectoryBlockRule exact;
    for (int i = 0; i < 42; ++i) exact.place(46);
    exact.place(48);  // 68 + 42 * 46 + 48 = 2048
    EXPECT_EQ(exact.free(), 0u);
    EXPECT_EQ(exact.blocks(), 1u);
    exact.place(34);
    EXPECT_EQ(exact.blocks(), 2u);
}

// 22 names of 12 ISO bytes (records of 46) and 22 of 11 (records of 44)
// fill the 1980 bytes after "." and ".." exactly.
TEST(ImageLayout, FolderExtentFillsExactlyThenOpensSecondBlock) {
    auto project = newProject();
    project->udfOn = 0;
    for (int i = 0; i < 22; ++i) {
        std::u16string twelve = u"name00__.bin", eleven = u"nam00__.bin";
        twelve[6] = eleven[5] = static_cast<char16_t>(u'a' + i);
        twelve[7] = eleven[6] = u'x';
        addVirtual(*project, u"\\", twelve, 1);
        addVirtual(*project, u"\\", eleven, 1);
    }
    image::PrepareImage(*project);
    EXPECT_EQ(project->root->isoBytes, 2048u);
    addVirtual(*project, u"\\", u"z.b", 1);
    image::PrepareImage(*project);
    EXPECT_EQ(project->root->isoBytes, 4096u);
    EXPECT_EQ(image::directoryExtentBlocks(*project->root, DirectoryTree::Iso), 2u);
}

TEST(ImageLayout, PlanningTwiceGivesTheSamePlan) {
    auto project = newProject();
    createFolder(*project, u"\\", u"b");
    createFolder(*project, u"\\", u"a");
    addVirtual(*project, u"\\b", u"f.txt", 3000);
    addVirtual(*project, u"\\a", u"g.txt", 10);
    int first = image::PrepareImage(*project);
    LayoutPlan before = project->plan;
    std::vector<std::uint32_t> blocks;
    for (auto& item : project->itemTable) blocks.push_back(item->dataBlock);
    EXPECT_EQ(image::PrepareImage(*project), first);
    EXPECT_EQ(project->plan.dataStart, before.dataStart);
    EXPECT_EQ(project->plan.imageBlocks, before.imageBlocks);
    EXPECT_EQ(project->plan.jolietDirStart, before.jolietDirStart);
    for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(project->itemTable[i]->dataBlock, blocks[i]);
}

TEST(ImageLayout, DataEndsOnChunkAndRounding) {
    // UDF on, empty: data ends at 267 (not a multiple of 32).
    auto project = newProject();
    image::PrepareImage(*project);
    EXPECT_EQ(project->plan.dataEndsOnChunk, 0u);
    // Grow the data so that dataStart + dataBlocks lands on 288 exactly.
    auto sized = newProject();
    FileItem* file = addVirtual(*sized, u"\\", u"f.bin", 1);
    image::PrepareImage(*sized);
    std::uint32_t want = 288 - sized->plan.dataStart;
    file->size = std::uint64_t{want} * 2048;
    EXPECT_EQ(image::PrepareImage(*sized), 289);
    EXPECT_EQ(sized->plan.dataEndsOnChunk, 1u);
    EXPECT_EQ(sized->plan.imageBlocks, 320u);
    sized->roundTo32 = 0;
    EXPECT_EQ(image::PrepareImage(*sized), 289);
    EXPECT_EQ(sized->plan.imageBlocks, 289u);
    EXPECT_EQ(sized->udf.closingAnchor, 288u);
}

TEST(ImageLayout, UdfAreaIsDepthFirstPreOrder) {
    auto project = newProject();
    FolderNode* a = createFolder(*project, u"\\", u"a");
    FileItem* top = addVirtual(*project, u"\\", u"top.txt", 1);
    FileItem* inner = addVirtual(*project, u"\\a", u"inner.txt", 1);
    image::PrepareImage(*project);
    const std::uint32_t start = project->udf.areaStart;
    EXPECT_EQ(project->root->udf.entryBlock, start);
    EXPECT_EQ(project->root->udf.idBlock, start + 1);
    EXPECT_EQ(a->udf.entryBlock, start + 2);
    EXPECT_EQ(a->udf.idBlock, start + 3);
    EXPECT_EQ(inner->udfEntryBlock, start + 4);
    EXPECT_EQ(top->udfEntryBlock, start + 5);
    EXPECT_EQ(project->udf.areaBlocks, 6u);
    EXPECT_EQ(project->udf.dirCount, 2u);
    EXPECT_EQ(project->udf.fileCount, 2u);
    EXPECT_EQ(project->root->udf.linkCount, 2);
    // a.txt-like: "top.txt" 7 units -> 38 + 15 = 53 -> 56; "a" 1 unit -> 41 -> 44.
    EXPECT_EQ(project->root->udf.idBytes, 40u + 44u + 56u);
}

TEST(ImageLayout, BootImageFollowsHeader) {
    auto project = newProject();
    project->udfOn = 0;
    project->bootImagePath = "/boot.img";
    project->bootImageSize = 1474560;
    image::PrepareImage(*project);
    EXPECT_EQ(project->plan.isoPathTableL, 20u);  // P, boot record, J, terminator
    EXPECT_EQ(project->plan.bootCatalogBlock, 26u);  // after the Joliet root at 25
    EXPECT_EQ(project->plan.bootImageBlock, 150u);
    EXPECT_EQ(project->plan.dataStart, 150u + 720u);
}

}  // namespace
}  // namespace velk::testing
