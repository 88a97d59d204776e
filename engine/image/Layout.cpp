#include "engine/image/Layout.h"

#include <algorithm>

#include "engine/core/TraceLog.h"
#include "engine/image/DirectoryRecords.h"
#include "engine/image/Names.h"
#include "engine/image/PathTables.h"
#include "engine/image/UdfDescriptors.h"
#include "engine/image/UdfFiles.h"
#include "engine/image/UdfVolume.h"

namespace velk::image {

namespace {

// Places the L and M tables of `bytes` each; returns their first blocks.
void placePathTables(LayoutPlan& plan, std::uint32_t bytes, std::uint32_t& l, std::uint32_t& m) {
    auto blocks = static_cast<std::uint32_t>(blocksFor(bytes));
    l = plan.nextBlock;
    plan.nextBlock += blocks;
    m = plan.nextBlock;
    plan.nextBlock += blocks;
}

// Gives every folder, in creation order, its block inside the tree's
// directory area; returns the area's length in blocks.
std::uint32_t placeDirectories(ImageProject& project, DirectoryTree tree) {
    std::uint32_t running = 0;
    for (auto& folder : project.folderTable) {
        std::uint32_t blocks = directoryExtentBlocks(*folder, tree);
        if (tree == DirectoryTree::Iso) {
            folder->isoBlock = running;
            folder->isoBytes = blocks * BlockBytes;
        } else {
            folder->jolietBlock = running;
            folder->jolietBytes = blocks * BlockBytes;
        }
        running += blocks;
    }
    return running;
}

// File data in creation order, each file from a block boundary.
std::uint32_t placeFileData(ImageProject& project) {
    std::uint32_t running = 0;
    for (auto& item : project.itemTable) {
        if (item->isFolder()) continue;
        if (item->size == 0) {
            item->dataBlock = 0;
            continue;
        }
        if (item->fixedBlock) continue;
        item->dataBlock = running;
        running += static_cast<std::uint32_t>(blocksFor(item->size));
    }
    return running;
}

}  // namespace

int planLayout(ImageProject& project) {
    LayoutPlan& plan = project.plan;
    project.jobs.jobState = JobPlanning;
    project.isoOn = 1;
    makeIsoNamesUnique(project);
    orderPathTable(project);

    plan.isoDirBlocks = 0;
    std::fill(std::begin(plan.zeroBlock), std::end(plan.zeroBlock), 0);
    const bool boot = !project.bootImagePath.empty();

    // Volume descriptor set from block 16: primary, boot record, long-name
    // descriptor, Joliet descriptor, terminator.
    plan.nextBlock = 16;
    plan.nextBlock += 1;
    if (project.jolietOn) plan.nextBlock += 1;
    if (boot) plan.nextBlock += 1;
    if (project.longNameMode == 1) plan.nextBlock += 1;
    plan.nextBlock += 1;
    const std::uint32_t afterTerminator = plan.nextBlock;

    if (project.udfOn) {
        fixUdfLocations(project, afterTerminator);
        plan.nextBlock = UdfPartitionStart + 2;
    }

    plan.isoPathTableBytes = pathTableBytes(project, DirectoryTree::Iso);
    placePathTables(plan, plan.isoPathTableBytes, plan.isoPathTableL, plan.isoPathTableM);
    plan.jolietPathTableBytes = plan.jolietPathTableL = plan.jolietPathTableM = 0;
    plan.jolietDirStart = plan.jolietDirBlocks = 0;
    plan.bootCatalogBlock = plan.bootImageBlock = 0;
    if (project.jolietOn) {
        plan.jolietPathTableBytes = pathTableBytes(project, DirectoryTree::Joliet);
        placePathTables(plan, plan.jolietPathTableBytes, plan.jolietPathTableL,
                        plan.jolietPathTableM);
    }

    plan.isoDirStart = plan.nextBlock;
    plan.isoDirBlocks = placeDirectories(project, DirectoryTree::Iso);
    plan.nextBlock += plan.isoDirBlocks;
    if (project.jolietOn) {
        plan.jolietDirStart = plan.nextBlock;
        plan.jolietDirBlocks = placeDirectories(project, DirectoryTree::Joliet);
        plan.nextBlock += plan.jolietDirBlocks;
    }

    if (boot) plan.bootCatalogBlock = plan.nextBlock++;

    project.padBlocks = 150 - static_cast<std::int32_t>(plan.nextBlock);
    if (plan.nextBlock < 150) plan.nextBlock = 150;
    plan.headerBlocks = plan.nextBlock;

    plan.dataBlocks = placeFileData(project);

    if (boot) {
        plan.bootImageBlock = plan.nextBlock;
        plan.nextBlock += project.bootImageSize / BlockBytes;
    }
    project.udf.areaStart = plan.nextBlock;
    project.udf.areaBlocks = 0;
    if (project.udfOn) plan.nextBlock += planUdfArea(project, plan.nextBlock);

    plan.dataStart = plan.nextBlock;
    plan.imageBlocks = plan.dataStart + plan.dataBlocks;
    if (project.udfOn) {
        plan.dataEndsOnChunk = plan.imageBlocks % 32 == 0 ? 1 : 0;
        plan.imageBlocks += 1;
    }
    const std::uint32_t unrounded = plan.imageBlocks;
    if (project.roundTo32 == 1 && plan.imageBlocks % 32 != 0) {
        plan.imageBlocks += 32 - plan.imageBlocks % 32;
    }
    if (project.udfOn) fixUdfSize(project, plan.imageBlocks - 1, plan.dataStart);

    project.prepared = 1;
    project.jobs.jobState = JobIdle;
    trace::write("Image Size %10u MBytes (%10u Sectors)\n", plan.imageBlocks / 512,
                 plan.imageBlocks);
    return static_cast<int>(unrounded);
}

}  // namespace velk::image
