#include "engine/image/PathTables.h"

#include <algorithm>
#include <cstring>

#include "engine/image/DirectoryRecords.h"
#include "engine/image/Endian.h"

namespace velk::image {

std::uint32_t writePathTableRecord(std::uint8_t* out, PathTableType type, std::uint32_t extent,
                                   std::uint16_t parentNumber, const std::uint8_t* identifier,
                                   std::uint8_t identifierLength) {
    const std::uint8_t n = identifierLength;
    const std::uint32_t length = 8u + n + (n % 2);
    std::memset(out, 0, length);
    out[0] = n;
    out[1] = 0;  // extended attribute record length
    if (type == PathTableType::L) {
        putLe32(out + 2, extent);
        putLe16(out + 6, parentNumber);
    } else {
        putBe32(out + 2, extent);
        putBe16(out + 6, parentNumber);
    }
    if (n) std::memcpy(out + 8, identifier, n);
    // 8 + n: padding byte when n is odd, already zero
    return length;
}

std::uint32_t writePathTable(const ImageProject& project, DirectoryTree tree, PathTableType type,
                             std::uint8_t* out) {
    const std::uint32_t tableBytes = tree == DirectoryTree::Iso
                                         ? project.plan.isoPathTableBytes
                                         : project.plan.jolietPathTableBytes;
    const auto totalBytes = static_cast<std::uint32_t>(blocksFor(tableBytes) * BlockBytes);
    std::memset(out, 0, totalBytes);

    static constexpr std::uint8_t RootIdentifier = 0x00;
    std::uint32_t position = writePathTableRecord(out, type, folderExtent(project, *project.root, tree),
                                                  1, &RootIdentifier, 1);
    std::uint8_t identifier[256];
    for (std::size_t i = 1; i < project.pathTableOrder.size(); ++i) {
        const FolderNode& folder = *project.pathTableOrder[i];
        std::uint8_t n;
        if (tree == DirectoryTree::Iso) {
            n = folder.isoNameLength;
            std::memset(identifier, 0, n);
            std::memcpy(identifier, folder.isoName.data(), std::min<std::size_t>(n, folder.isoName.size()));
        } else {
            std::uint32_t units = folder.longNameLength;
            std::memset(identifier, 0, 2 * units);
            std::size_t copied = std::min<std::size_t>(units, folder.longName.size());
            for (std::size_t u = 0; u < copied; ++u) putBe16(identifier + 2 * u, folder.longName[u]);
            n = static_cast<std::uint8_t>(2 * units);
        }
        std::uint32_t length = 8u + n + (n % 2);
        if (position + length > totalBytes) break;  // the tree changed after planning
        position += writePathTableRecord(out + position, type, folderExtent(project, folder, tree),
                                         folder.parent->number, identifier, n);
    }
    return totalBytes;
}

}  // namespace velk::image
