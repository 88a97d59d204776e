#include "engine/image/HeaderGenerator.h"

#include <cstring>
#include <new>

#include "engine/core/TraceLog.h"
#include "engine/image/DirectoryRecords.h"
#include "engine/image/ElTorito.h"
#include "engine/image/Layout.h"
#include "engine/image/PathTables.h"
#include "engine/image/UdfDescriptors.h"
#include "engine/image/UdfFiles.h"
#include "engine/image/UdfVolume.h"
#include "engine/image/VolumeDescriptors.h"

namespace velk::image {
namespace {

std::uint8_t* defaultAllocator(std::size_t bytes) { return new (std::nothrow) std::uint8_t[bytes]; }

HeaderAllocator headerAllocator = defaultAllocator;

// Appends whole blocks to the header, never beyond its allocation.
class HeaderAppender {
public:
    explicit HeaderAppender(ImageProject& project) : project_(project) {}

    // The next `blocks` blocks of the header, or null when they would run
    // past the buffer.
    std::uint8_t* append(std::uint32_t blocks) {
        const std::uint64_t end = std::uint64_t{project_.headerBytes} + std::uint64_t{blocks} * BlockBytes;
        if (end > project_.plan.headerCapacity) return nullptr;
        std::uint8_t* at = project_.headerBuffer.get() + project_.headerBytes;
        project_.headerBytes = static_cast<std::uint32_t>(end);
        return at;
    }

    // Zero blocks up to (not including) relative block `block`.
    bool zeroUpTo(std::uint32_t block) {
        std::uint32_t current = project_.headerBytes / BlockBytes;
        if (block <= current) return block == current;
        std::uint8_t* at = append(block - current);
        if (!at) return false;
        std::memset(at, 0, std::size_t{block - current} * BlockBytes);
        return true;
    }

private:
    ImageProject& project_;
};

bool writeVolumeDescriptorSet(ImageProject& project, HeaderAppender& header) {
    auto next = [&]() { return header.append(1); };
    std::uint8_t* at = next();
    if (!at) return false;
    writePrimaryDescriptor(project, platform::currentUtcTime(), at);
    if (!project.bootImagePath.empty()) {
        if (!(at = next())) return false;
        writeBootRecord(project, at);
    }
    if (project.longNameMode == 1) {
        if (!(at = next())) return false;
        writeLongNameDescriptor(project, platform::currentUtcTime(), at);
    }
    if (project.jolietOn) {
        if (!(at = next())) return false;
        writeJolietDescriptor(project, platform::currentUtcTime(), at);
    }
    if (!(at = next())) return false;
    writeTerminator(at);
    return true;
}

bool writeUdfVolumeStructures(ImageProject& project, HeaderAppender& header) {
    std::uint8_t* at = header.append(3);
    if (!at) return false;
    writeRecognitionSequence(at);
    if (!header.zeroUpTo(UdfMainVdsBlock) || !(at = header.append(32))) return false;
    writeVolumeDescriptorSequences(project, at);
    if (!(at = header.append(4))) return false;
    writeIntegritySequence(project, at);
    if (!header.zeroUpTo(UdfAnchorBlock) || !(at = header.append(1))) return false;
    writeAnchor(project, UdfAnchorBlock, at);
    if (!(at = header.append(2))) return false;
    writeFileSet(project, at);
    return true;
}

bool writeTree(ImageProject& project, HeaderAppender& header, DirectoryTree tree) {
    const LayoutPlan& plan = project.plan;
    const std::uint32_t tableBytes =
        tree == DirectoryTree::Iso ? plan.isoPathTableBytes : plan.jolietPathTableBytes;
    const auto tableBlocks = static_cast<std::uint32_t>(blocksFor(tableBytes));
    for (PathTableType type : {PathTableType::L, PathTableType::M}) {
        std::uint8_t* at = header.append(tableBlocks);
        if (!at) return false;
        if (!writePathTable(project, tree, type, at)) {
            trace::write("The %s path table is not the %u bytes planned\n",
                         tree == DirectoryTree::Iso ? "ISO 9660" : "Joliet", tableBytes);
            return false;
        }
    }
    return true;
}

bool writeDirectories(ImageProject& project, HeaderAppender& header, DirectoryTree tree) {
    for (auto& folder : project.folderTable) {
        std::uint8_t* at = header.append(folderBytes(*folder, tree) / BlockBytes);
        if (!at || !writeDirectoryExtent(project, *folder, tree, at)) return false;
    }
    return true;
}

bool writeHeader(ImageProject& project) {
    HeaderAppender header(project);
    if (!header.zeroUpTo(16)) return false;
    if (!writeVolumeDescriptorSet(project, header)) return false;
    if (project.udfOn && !writeUdfVolumeStructures(project, header)) return false;
    if (!writeTree(project, header, DirectoryTree::Iso)) return false;
    if (project.jolietOn && !writeTree(project, header, DirectoryTree::Joliet)) return false;
    if (!writeDirectories(project, header, DirectoryTree::Iso)) return false;
    if (project.jolietOn && !writeDirectories(project, header, DirectoryTree::Joliet)) return false;
    if (!project.bootImagePath.empty()) {
        std::uint8_t* at = header.append(1);
        if (!at) return false;
        writeBootCatalog(project, at);
    }
    if (!header.zeroUpTo(project.plan.headerBlocks)) return false;
    return project.headerBytes == project.plan.headerCapacity;
}

}  // namespace

void setHeaderAllocator(HeaderAllocator allocator) {
    headerAllocator = allocator ? allocator : defaultAllocator;
}

int GenerateHeader(ImageProject& project, std::uint32_t startLba, std::uint32_t udfSessionStart) {
    if (!project.prepared) {
        project.pendingError = ErrNotPrepared;
        return 0;
    }
    project.plan.startLba = startLba;
    project.udf.sessionStart = udfSessionStart;
    project.headerBuffer.reset();
    project.headerBytes = 0;
    project.plan.headerCapacity = 0;

    const std::size_t bytes = std::size_t{project.plan.headerBlocks} * BlockBytes;
    std::uint8_t* buffer = headerAllocator(bytes);
    if (!buffer) {
        trace::write("Cannot allocate %zu bytes for the image header\n", bytes);
        project.pendingError = ErrOutOfMemory;
        return 0;
    }
    project.headerBuffer.reset(buffer);
    project.plan.headerCapacity = static_cast<std::uint32_t>(bytes);

    if (project.udfOn) makeUdfLabel(project);
    beginUdfArea(project);
    if (!writeHeader(project)) {
        trace::write("The tree changed after planning: header not generated\n");
        project.headerBuffer.reset();
        project.headerBytes = 0;
        project.plan.headerCapacity = 0;
        project.prepared = 0;
        project.pendingError = ErrNotPrepared;
        return 0;
    }
    return 1;
}

void writeClosingAnchor(const ImageProject& project, std::uint8_t* out) {
    writeAnchor(project, project.udf.closingAnchor, out);
}

}  // namespace velk::image
