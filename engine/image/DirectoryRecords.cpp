#include "engine/image/DirectoryRecords.h"

#include <algorithm>
#include <cstring>

#include "engine/image/Endian.h"
#include "engine/image/IsoDates.h"
#include "platform/FindData.h"
#include "platform/Text.h"

namespace velk::image {

std::uint32_t directoryIdentifierLength(const FileItem& child, DirectoryTree tree) {
    return tree == DirectoryTree::Iso ? child.isoNameLength : 2u * child.jolietNameLength;
}

std::uint32_t directoryRecordLength(const FileItem& child, DirectoryTree tree) {
    return directoryRecordLength(directoryIdentifierLength(child, tree));
}

std::uint32_t directoryRecordCount(const FileItem& child) {
    if (child.folder || child.size <= 0xFFFFFFFFull) return 1;
    return static_cast<std::uint32_t>((child.size + MaxSectionBytes - 1) / MaxSectionBytes);
}

std::uint32_t directoryExtentBlocks(const FolderNode& folder, DirectoryTree tree) {
    DirectoryBlockRule rule;
    for (const FileItem* child = folder.firstChild; child; child = child->next) {
        const std::uint32_t length = directoryRecordLength(*child, tree);
        for (std::uint32_t section = directoryRecordCount(*child); section > 0; --section) {
            rule.place(length);
        }
    }
    return rule.blocks();
}

std::uint32_t writeDirectoryRecord(std::uint8_t* out, const DirectoryRecord& record) {
    const std::uint8_t n = record.identifierLength;
    const std::uint32_t length = directoryRecordLength(n);
    std::memset(out, 0, length);
    out[0] = static_cast<std::uint8_t>(length);
    out[1] = 0;  // extended attribute record length
    putBoth32(out + 2, record.extent);
    putBoth32(out + 10, record.dataLength);
    if (record.date) writeRecordDate(out + 18, *record.date, record.gmtOffset);
    out[25] = record.flags;
    out[26] = 0;  // file unit size
    out[27] = 0;  // interleave gap size
    putBoth16(out + 28, 1);  // volume sequence number
    out[32] = n;
    if (n) std::memcpy(out + 33, record.identifier, n);
    // 33 + n: padding byte when n is even, already zero
    return length;
}

std::uint32_t folderExtent(const ImageProject& project, const FolderNode& folder,
                           DirectoryTree tree) {
    const LayoutPlan& plan = project.plan;
    return tree == DirectoryTree::Iso ? plan.isoDirStart + plan.startLba + folder.isoBlock
                                      : plan.jolietDirStart + plan.startLba + folder.jolietBlock;
}

std::uint32_t folderBytes(const FolderNode& folder, DirectoryTree tree) {
    return tree == DirectoryTree::Iso ? folder.isoBytes : folder.jolietBytes;
}

DirectoryRecord selfDirectoryRecord(const ImageProject& project, const FolderNode& folder,
                                    DirectoryTree tree) {
    static constexpr std::uint8_t Self = 0x00;
    DirectoryRecord record;
    record.extent = folderExtent(project, folder, tree);
    record.dataLength = folderBytes(folder, tree);
    record.flags = RecordDirectory;
    record.identifier = &Self;
    record.identifierLength = 1;
    folderRecordDate(project, folder, record);
    return record;
}

void folderRecordDate(const ImageProject& project, const FolderNode& folder,
                      DirectoryRecord& record) {
    if (folder.item) {
        record.date = &folder.item->date;
        record.gmtOffset = quarterHours(folder.item->utcOffsetMinutes);
    } else {
        record.date = &project.rootDate;
        record.gmtOffset = quarterHours(project.rootUtcOffsetMinutes);
    }
}

DirectoryRecord childDirectoryRecord(const ImageProject& project, const FileItem& child,
                                     DirectoryTree tree, std::uint8_t* identifierBuffer,
                                     std::uint32_t section) {
    DirectoryRecord record;
    if (child.folder) {
        record.extent = folderExtent(project, *child.folder, tree);
        record.dataLength = folderBytes(*child.folder, tree);
        record.flags = RecordDirectory;
    } else if (child.size == 0) {
        record.extent = 0;
        record.dataLength = 0;
    } else {
        const std::uint32_t first =
            child.fixedBlock ? child.dataBlock
                             : project.plan.dataStart + project.plan.startLba + child.dataBlock;
        const std::uint32_t sections = directoryRecordCount(child);
        if (sections == 1) {
            record.extent = first;
            record.dataLength = static_cast<std::uint32_t>(child.size);
        } else {
            // Consecutive sections of the one run of blocks the file has.
            const std::uint64_t before = std::uint64_t{section} * MaxSectionBytes;
            record.extent = first + section * MaxSectionBlocks;
            record.dataLength = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(child.size - std::min(before, child.size), MaxSectionBytes));
            if (section + 1 < sections) record.flags |= RecordMultiExtent;
        }
    }
    if (child.attributes & platform::AttrHidden) record.flags |= RecordHidden;
    record.date = &child.date;
    // The offset in force at the file's own date, so summer dates are not an
    // hour off.
    record.gmtOffset = quarterHours(child.utcOffsetMinutes);

    const auto n = static_cast<std::uint8_t>(directoryIdentifierLength(child, tree));
    std::memset(identifierBuffer, 0, n);
    if (tree == DirectoryTree::Iso) {
        std::size_t copied = std::min<std::size_t>(n, child.isoName.size());
        for (std::size_t i = 0; i < copied; ++i) {
            identifierBuffer[i] = static_cast<std::uint8_t>(platform::upperAscii(child.isoName[i]));
        }
    } else {
        std::size_t copied = std::min<std::size_t>(child.jolietNameLength, child.jolietName.size());
        for (std::size_t i = 0; i < copied; ++i) putBe16(identifierBuffer + 2 * i, child.jolietName[i]);
    }
    record.identifierLength = n;
    record.identifier = identifierBuffer;
    return record;
}

bool writeDirectoryExtent(const ImageProject& project, const FolderNode& folder,
                          DirectoryTree tree, std::uint8_t* out) {
    const std::uint32_t extentBytes = folderBytes(folder, tree);
    std::memset(out, 0, extentBytes);
    if (extentBytes < BlockBytes) return false;

    static constexpr std::uint8_t Parent = 0x01;
    std::uint32_t position = writeDirectoryRecord(out, selfDirectoryRecord(project, folder, tree));
    DirectoryRecord dotDot = selfDirectoryRecord(project, *folder.parent, tree);
    dotDot.identifier = &Parent;
    position += writeDirectoryRecord(out + position, dotDot);

    DirectoryBlockRule rule;
    std::uint8_t identifier[256];
    for (const FileItem* child = folder.firstChild; child; child = child->next) {
        const std::uint32_t length = directoryRecordLength(*child, tree);
        const std::uint32_t sections = directoryRecordCount(*child);
        for (std::uint32_t section = 0; section < sections; ++section) {
            DirectoryRecord record = childDirectoryRecord(project, *child, tree, identifier, section);
            position += rule.place(length);  // the padding is already zero
            if (position + length > extentBytes) return false;
            writeDirectoryRecord(out + position, record);
            position += length;
        }
    }
    return true;
}

}  // namespace velk::image
