#include "engine/image/PathTables.h"

#include <algorithm>
#include <cstring>

#include "engine/image/DirectoryRecords.h"
#include "engine/image/Endian.h"

namespace velk::image {

namespace {
constexpr std::uint8_t RootIdentifier = 0x00;
}  // namespace

std::uint32_t pathTableIdentifierLength(const FolderNode& folder, DirectoryTree tree) {
    if (folder.parent == &folder) return sizeof RootIdentifier;
    return tree == DirectoryTree::Iso ? folder.isoNameLength : 2u * folder.longNameLength;
}

std::uint32_t pathTableBytes(const ImageProject& project, DirectoryTree tree) {
    std::uint32_t bytes = 0;
    for (const auto& folder : project.folderTable) {
        bytes += pathTableRecordLength(pathTableIdentifierLength(*folder, tree));
    }
    return bytes;
}

std::uint32_t writePathTableRecord(std::uint8_t* out, PathTableType type, std::uint32_t extent,
                                   std::uint16_t parentNumber, const std::uint8_t* identifier,
                                   std::uint8_t identifierLength) {
    const std::uint8_t n = identifierLength;
    const std::uint32_t length = pathTableRecordLength(n);
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

bool writePathTable(const ImageProject& project, DirectoryTree tree, PathTableType type,
                    std::uint8_t* out) {
    const std::uint32_t tableBytes = tree == DirectoryTree::Iso
                                         ? project.plan.isoPathTableBytes
                                         : project.plan.jolietPathTableBytes;
    const auto totalBytes = static_cast<std::uint32_t>(blocksFor(tableBytes) * BlockBytes);
    std::memset(out, 0, totalBytes);
    if (tableBytes < pathTableRecordLength(sizeof RootIdentifier)) return false;

    std::uint32_t position = writePathTableRecord(out, type, folderExtent(project, *project.root, tree),
                                                  1, &RootIdentifier, sizeof RootIdentifier);
    std::uint8_t identifier[256];
    for (std::size_t i = 1; i < project.pathTableOrder.size(); ++i) {
        const FolderNode& folder = *project.pathTableOrder[i];
        const auto n = static_cast<std::uint8_t>(pathTableIdentifierLength(folder, tree));
        std::memset(identifier, 0, n);
        if (tree == DirectoryTree::Iso) {
            std::memcpy(identifier, folder.isoName.data(), std::min<std::size_t>(n, folder.isoName.size()));
        } else {
            std::size_t copied = std::min<std::size_t>(folder.longNameLength, folder.longName.size());
            for (std::size_t u = 0; u < copied; ++u) putBe16(identifier + 2 * u, folder.longName[u]);
        }
        if (position + pathTableRecordLength(n) > tableBytes) return false;
        position += writePathTableRecord(out + position, type, folderExtent(project, folder, tree),
                                         folder.parent->number, identifier, n);
    }
    return position == tableBytes;
}

}  // namespace velk::image
