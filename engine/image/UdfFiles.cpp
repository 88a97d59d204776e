#include "engine/image/UdfFiles.h"

#include <algorithm>
#include <cstring>

#include "engine/image/Endian.h"
#include "engine/image/Layout.h"
#include "engine/image/Names.h"
#include "engine/image/UdfDescriptors.h"

namespace velk::image {
namespace {

// Longest name whose L_FI (1 + 2 * units) still fits its one-byte field.
constexpr std::size_t MaxIdentifierUnits = 127;
// The largest extent a short allocation descriptor carries: 2^30 - 2048
// bytes, 524,287 blocks.
constexpr std::uint32_t MaxExtentBytes = 0x3FFFF800;
constexpr std::uint32_t MaxExtentBlocks = MaxExtentBytes / BlockBytes;
constexpr std::uint32_t AllocationBytes = 1872;  // fills the entry to 2048
constexpr std::uint32_t MaxAllocationDescriptors = AllocationBytes / 8;

constexpr std::uint8_t CharDirectory = 0x02;
constexpr std::uint8_t CharParent = 0x08;

std::uint32_t logical(const ImageProject& project, std::uint32_t relativeBlock) {
    return relativeBlock + project.udf.sessionStart - project.udf.partitionStart;
}

// Bytes 16-175 of a file entry, common to folders and files.
void writeFileEntryHead(std::uint8_t* out, std::uint8_t fileType, std::uint16_t linkCount,
                        std::uint64_t informationLength, const std::uint8_t* timestamp,
                        std::uint64_t uniqueId) {
    // 16 ICB tag
    putLe32(out + 16, 0);  // prior recorded direct entries
    putLe16(out + 20, 4);  // strategy type
    putLe16(out + 22, 0);  // strategy parameter
    putLe16(out + 24, 1);  // maximum number of entries
    out[26] = 0;
    out[27] = fileType;
    // 28 parent ICB location: zero
    putLe16(out + 34, 0);  // ICB flags: short allocation descriptors
    putLe32(out + 36, 0xFFFFFFFF);  // uid
    putLe32(out + 40, 0xFFFFFFFF);  // gid
    putLe32(out + 44, 0x14A5);      // read and execute for owner, group, others
    putLe16(out + 48, linkCount);
    // 50 record format, display attributes, record length: zero
    putLe64(out + 56, informationLength);
    putLe64(out + 64, blocksFor(informationLength));
    std::memcpy(out + 72, timestamp, 12);  // access time
    std::memcpy(out + 84, timestamp, 12);  // modification time
    std::memcpy(out + 96, timestamp, 12);  // attribute time
    putLe32(out + 108, 1);                 // checkpoint
    // 112 extended attribute ICB: zero
    writeImplementationId(out + 128);
    putLe64(out + 160, uniqueId);
    putLe32(out + 168, 0);  // length of extended attributes
    putLe32(out + 172, AllocationBytes);
}

// Short allocation descriptor: extent length, logical block.
void writeShortAd(std::uint8_t* at, std::uint32_t length, std::uint32_t block) {
    putLe32(at + 0, length);
    putLe32(at + 4, block);
}

}  // namespace

std::u16string_view udfIdentifierName(const FileItem& child) {
    // UDF names are the source names as they are: without the dot that the
    // Joliet name of a file without an extension carries.
    const std::u16string_view name = ownNameOf(child);
    return name.substr(0, std::min(name.size(), MaxIdentifierUnits));
}

std::uint32_t fileIdentifierLength(std::size_t nameUnits, bool parentEntry) {
    std::uint32_t lengthOfName = parentEntry ? 0 : static_cast<std::uint32_t>(1 + 2 * nameUnits);
    return (38 + lengthOfName + 3) / 4 * 4;
}

std::uint32_t planUdfArea(ImageProject& project, std::uint32_t start) {
    UdfPlan& udf = project.udf;
    udf.dirCount = 1;
    udf.fileCount = 0;
    std::uint32_t next = start;

    auto enter = [&](FolderNode& folder) {
        folder.udf.linkCount = 1;
        folder.udf.idBytes = fileIdentifierLength(0, true);
        folder.udf.cursor = nullptr;
        for (FileItem* child = folder.firstChild; child; child = child->next) {
            if (child->folder) {
                ++folder.udf.linkCount;
                ++udf.dirCount;
            } else {
                ++udf.fileCount;
            }
            folder.udf.idBytes += fileIdentifierLength(udfIdentifierName(*child).size(), false);
        }
        folder.udf.entryBlock = next++;
        folder.udf.idBlock = next;
        next += static_cast<std::uint32_t>(blocksFor(folder.udf.idBytes));
    };

    FolderNode* folder = project.root;
    enter(*folder);
    FileItem* walk = folder->firstChild;
    for (;;) {
        while (walk) {
            if (!walk->folder) {
                walk->udfEntryBlock = next++;
                walk = walk->next;
                continue;
            }
            folder->udf.cursor = walk;
            folder = walk->folder;
            enter(*folder);
            walk = folder->firstChild;
        }
        if (folder == project.root) break;
        folder = folder->parent;
        walk = folder->udf.cursor->next;
    }
    udf.areaStart = start;
    udf.areaBlocks = next - start;
    return udf.areaBlocks;
}

void writeFolderFileEntry(const ImageProject& project, const FolderNode& folder,
                          std::uint64_t uniqueId, std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    // The folder's own date, as its ISO 9660 and Joliet records carry it.
    std::uint8_t timestamp[12];
    if (folder.item) {
        writeTimestamp(timestamp, folder.item->date, folder.item->utcOffsetMinutes);
    } else {
        writeTimestamp(timestamp, project.rootDate, project.rootUtcOffsetMinutes);
    }
    writeFileEntryHead(out, 4, folder.udf.linkCount, folder.udf.idBytes, timestamp, uniqueId);
    writeShortAd(out + 176, static_cast<std::uint32_t>(folder.udf.idBytes),
                 logical(project, folder.udf.idBlock));
    writeDescriptorTag(out, TagFileEntry, logical(project, folder.udf.entryBlock),
                       BlockBytes - 16);
}

void writeFileFileEntry(const ImageProject& project, const FileItem& file,
                        std::uint64_t uniqueId, std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    std::uint8_t timestamp[12];
    writeTimestamp(timestamp, file.date, file.utcOffsetMinutes);
    writeFileEntryHead(out, 5, 1, file.size, timestamp, uniqueId);
    if (file.size > 0) {
        std::uint32_t first = file.fixedBlock
                                  ? file.dataBlock - project.udf.partitionStart
                                  : logical(project, project.udf.dataStart + file.dataBlock);
        std::uint64_t remaining = file.size;
        std::uint32_t index = 0;
        std::uint8_t* at = out + 176;
        while (remaining > 0 && index + 1 < MaxAllocationDescriptors) {
            auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, MaxExtentBytes));
            writeShortAd(at, length, first + index * MaxExtentBlocks);
            remaining -= length;
            ++index;
            at += 8;
        }
        // The zero-length descriptor that ends the list. Its position is 0:
        // readers such as 7-Zip check every descriptor's block against the
        // partition, and "where the next extent would start" lies past its end.
        writeShortAd(at, 0, 0);
    }
    writeDescriptorTag(out, TagFileEntry, logical(project, file.udfEntryBlock), BlockBytes - 16);
}

std::uint32_t writeFileIdentifier(const ImageProject& project, const FolderNode& folder,
                                  const FileItem* child, std::uint32_t location,
                                  std::uint8_t* out) {
    std::u16string_view name = child ? udfIdentifierName(*child) : std::u16string_view();
    std::uint32_t length = fileIdentifierLength(name.size(), child == nullptr);
    std::uint32_t target;
    std::uint8_t characteristics;
    if (!child) {
        target = folder.parent->udf.entryBlock;
        characteristics = CharDirectory | CharParent;
    } else if (child->folder) {
        target = child->folder->udf.entryBlock;
        characteristics = CharDirectory;
    } else {
        target = child->udfEntryBlock;
        characteristics = 0;
    }
    std::memset(out, 0, length);
    putLe16(out + 16, 1);  // file version number
    out[18] = characteristics;
    out[19] = static_cast<std::uint8_t>(name.empty() ? 0 : 1 + 2 * name.size());  // L_FI
    // 20 ICB: long allocation descriptor, implementation use zero
    putLe32(out + 20, BlockBytes);
    putLe32(out + 24, logical(project, target));
    putLe16(out + 28, 0);  // partition reference
    putLe16(out + 36, 0);  // length of implementation use
    writeCompressedUnicode(out + 38, name);
    // padding to a multiple of 4: zero
    writeDescriptorTag(out, TagFileIdentifier, location, static_cast<std::uint16_t>(length - 16));
    return length;
}

namespace {

// Runs the transitions that produce no block (finishing folders, entering a
// child folder) until the next block is known or the area is complete.
void settle(ImageProject& project) {
    UdfGeneratorState& g = project.udf.generator;
    while (!g.areaDone && g.step == UdfStep::Children) {
        if (g.walk && !g.walk->folder) return;
        if (g.walk) {
            g.folder->udf.cursor = g.walk;
            g.folder = g.walk->folder;
            g.step = UdfStep::Entry;
            return;
        }
        if (g.folder == project.root) {
            g.areaDone = true;
            return;
        }
        FolderNode* parent = g.folder->parent;
        g.walk = parent->udf.cursor->next;
        g.folder = parent;
    }
}

// One block of the current folder's identifier stream. Returns true when
// the stream is complete.
bool fillIdentifierBlock(ImageProject& project, std::uint8_t* block) {
    UdfGeneratorState& g = project.udf.generator;
    std::uint32_t position = 0;
    while (position < BlockBytes) {
        if (g.pendingOffset == g.pendingLength) {
            std::uint32_t location = logical(project, g.folder->udf.idBlock + g.idBlockIndex);
            if (!g.parentWritten) {
                g.pendingLength = writeFileIdentifier(project, *g.folder, nullptr, location, g.pending);
                g.parentWritten = true;
            } else if (g.walk) {
                g.pendingLength = writeFileIdentifier(project, *g.folder, g.walk, location, g.pending);
                g.walk = g.walk->next;
            } else {
                break;
            }
            g.pendingOffset = 0;
        }
        std::uint32_t count = std::min(g.pendingLength - g.pendingOffset, BlockBytes - position);
        std::memcpy(block + position, g.pending + g.pendingOffset, count);
        position += count;
        g.pendingOffset += count;
    }
    ++g.idBlockIndex;
    return g.parentWritten && !g.walk && g.pendingOffset == g.pendingLength;
}

void produceOneBlock(ImageProject& project, std::uint8_t* block) {
    UdfGeneratorState& g = project.udf.generator;
    switch (g.step) {
    case UdfStep::Entry: {
        std::uint64_t uniqueId = g.folder == project.root ? 0 : project.udf.nextUniqueId++;
        writeFolderFileEntry(project, *g.folder, uniqueId, block);
        g.step = UdfStep::Identifiers;
        g.walk = g.folder->firstChild;
        g.parentWritten = false;
        g.idBlockIndex = 0;
        g.pendingLength = g.pendingOffset = 0;
        break;
    }
    case UdfStep::Identifiers:
        if (fillIdentifierBlock(project, block)) {
            g.step = UdfStep::Children;
            g.walk = g.folder->firstChild;
        }
        break;
    case UdfStep::Children:
        writeFileFileEntry(project, *g.walk, project.udf.nextUniqueId++, block);
        g.walk = g.walk->next;
        break;
    }
    ++g.blocksProduced;
    settle(project);
}

}  // namespace

void beginUdfArea(ImageProject& project) {
    UdfGeneratorState& g = project.udf.generator;
    g = UdfGeneratorState{};
    g.folder = project.root;
    g.step = UdfStep::Entry;
    g.areaDone = !project.udfOn || !project.root;
    project.udf.nextUniqueId = 16;
}

int produceUdfBlocks(ImageProject& project, std::uint8_t* out, std::uint32_t blockCount) {
    if (blockCount < 1 || blockCount > 255) return 0;
    if (project.udf.generator.areaDone) return 0;
    for (std::uint32_t i = 0; i < blockCount; ++i) {
        std::uint8_t* block = out + std::size_t{i} * BlockBytes;
        std::memset(block, 0, BlockBytes);
        if (!project.udf.generator.areaDone) produceOneBlock(project, block);
    }
    return 1;
}

bool udfAreaDone(const ImageProject& project) { return project.udf.generator.areaDone; }

}  // namespace velk::image
