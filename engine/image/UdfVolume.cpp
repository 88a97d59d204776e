#include "engine/image/UdfVolume.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "engine/image/Endian.h"
#include "engine/image/Layout.h"
#include "engine/image/UdfDescriptors.h"
#include "platform/Text.h"

namespace velk::image {
namespace {

constexpr std::uint32_t SequenceBytes = 16 * BlockBytes;  // 32,768
constexpr std::uint16_t UdfRevision = 0x0150;

std::uint32_t physical(const ImageProject& project, std::uint32_t block) {
    return block + project.udf.sessionStart;
}

// The partition ends where the image's closing anchor lies.
std::uint32_t partitionBlocks(const ImageProject& project) {
    return project.udf.sessionStart + project.udf.partitionLength + UdfPartitionStart - project.udf.partitionStart;
}

// Where the partition starts on the disc: at block 257, unless a file kept
// from an earlier session has its data before that (a first session without
// the UDF bridge); then at block 0, so that every file lies inside it.
std::uint32_t partitionStartFor(const ImageProject& project) {
    for (const auto& item : project.itemTable) {
        if (item->fixedBlock && item->size != 0 && item->dataBlock < UdfPartitionStart) return 0;
    }
    return UdfPartitionStart;
}

void writeLabelDString(const ImageProject& project, std::uint8_t* at, std::size_t fieldBytes) {
    writeDString(at, fieldBytes, project.udf.label, project.udf.labelBytes);
}

// Long allocation descriptor: length, logical block, partition 0, zero
// implementation use.
void writeLongAd(std::uint8_t* at, std::uint32_t length, std::uint32_t logicalBlock) {
    putLe32(at + 0, length);
    putLe32(at + 4, logicalBlock);
    putLe16(at + 8, 0);
    std::memset(at + 10, 0, 6);
}

// Extent descriptor: length, location.
void writeExtent(std::uint8_t* at, std::uint32_t length, std::uint32_t location) {
    putLe32(at + 0, length);
    putLe32(at + 4, location);
}

// The first eight characters a hexadecimal time stamp, as UDF asks, the
// next eight random, so that two volumes planned in the same second differ.
void makeVolumeSetId(UdfPlan& udf) {
    const auto seconds = static_cast<std::uint32_t>(std::time(nullptr));
    std::random_device random;
    const std::uint32_t salt = random();
    std::snprintf(udf.volumeSetId, sizeof udf.volumeSetId, "%08X%08X", seconds, salt);
}

}  // namespace

void fixUdfLocations(ImageProject& project, std::uint32_t vrsStart) {
    UdfPlan& udf = project.udf;
    writeTimestamp(udf.timestamp, platform::currentUtcTime());
    makeVolumeSetId(udf);
    udf.vrsStart = vrsStart;
    udf.mainVds = UdfMainVdsBlock;
    udf.reserveVds = UdfReserveVdsBlock;
    udf.integrity = UdfIntegrityBlock;
    udf.anchor = UdfAnchorBlock;
    udf.partitionStart = partitionStartFor(project);
    udf.fileSet = UdfFileSetBlock;
    udf.dirCount = 1;
    udf.fileCount = 0;
    udf.nextUniqueId = 16;
    makeUdfLabel(project);
}

void fixUdfSize(ImageProject& project, std::uint32_t lastBlock, std::uint32_t dataStart) {
    project.udf.closingAnchor = lastBlock;
    project.udf.partitionLength = lastBlock + 1 - 258;
    project.udf.dataStart = dataStart;
}

void makeUdfLabel(ImageProject& project) {
    const std::u16string_view label =
        platform::cutUtf16({project.volumeLabelW, platform::u16length(project.volumeLabelW)}, 15);
    std::memset(project.udf.label, 0, sizeof project.udf.label);
    project.udf.labelBytes =
        static_cast<std::uint8_t>(writeCompressedUnicode(project.udf.label, label));
}

void writeRecognitionSequence(std::uint8_t* out) {
    static constexpr const char* Identifiers[3] = {"BEA01", "NSR02", "TEA01"};
    for (int i = 0; i < 3; ++i) {
        std::uint8_t* block = out + i * BlockBytes;
        std::memset(block, 0, BlockBytes);
        block[0] = 0;  // structure type
        std::memcpy(block + 1, Identifiers[i], 5);
        block[6] = 1;  // structure version
    }
}

void writeAnchor(const ImageProject& project, std::uint32_t block, std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    writeExtent(out + 16, SequenceBytes, physical(project, UdfMainVdsBlock));
    writeExtent(out + 24, SequenceBytes, physical(project, UdfReserveVdsBlock));
    writeDescriptorTag(out, TagAnchor, physical(project, block), 496);
}

void writeUdfPrimaryVolumeDescriptor(const ImageProject& project, std::uint32_t location,
                                     std::uint8_t* out) {
    std::uint8_t volumeSetId[17] = {8};  // compression 8: one byte per character
    std::memcpy(volumeSetId + 1, project.udf.volumeSetId, 16);
    std::memset(out, 0, BlockBytes);
    putLe32(out + 16, 1);  // volume descriptor sequence number
    putLe32(out + 20, 0);  // primary volume descriptor number
    writeLabelDString(project, out + 24, 32);
    putLe16(out + 56, 1);  // volume sequence number
    putLe16(out + 58, 1);  // maximum volume sequence number
    putLe16(out + 60, 2);  // interchange level
    putLe16(out + 62, 3);  // maximum interchange level
    putLe32(out + 64, 1);  // character set list
    putLe32(out + 68, 1);  // maximum character set list
    writeDString(out + 72, 128, volumeSetId, sizeof volumeSetId);
    writeCharSpec(out + 200);  // descriptor character set
    writeCharSpec(out + 264);  // explanatory character set
    // 328 volume abstract, 336 copyright notice, 344 application: zero
    std::memcpy(out + 376, project.udf.timestamp, 12);
    writeImplementationId(out + 388);
    // 420 implementation use, 484 predecessor, 488 flags: zero
    writeDescriptorTag(out, TagPrimaryVolume, location, 496);
}

void writeLogicalVolumeDescriptor(const ImageProject& project, std::uint32_t location,
                                  std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    putLe32(out + 16, 2);  // volume descriptor sequence number
    writeCharSpec(out + 20);
    writeLabelDString(project, out + 84, 128);
    putLe32(out + 212, BlockBytes);
    writeDomainId(out + 216, 0x03);  // hard and soft write protect
    writeLongAd(out + 248, 2 * BlockBytes,
                physical(project, UdfFileSetBlock) - project.udf.partitionStart);
    putLe32(out + 264, 6);  // map table length
    putLe32(out + 268, 1);  // number of partition maps
    writeImplementationId(out + 272);
    // 304 implementation use: zero
    writeExtent(out + 432, 4 * BlockBytes, physical(project, UdfIntegrityBlock));
    out[440] = 1;           // partition map type
    out[441] = 6;           // partition map length
    putLe16(out + 442, 1);  // volume sequence number
    putLe16(out + 444, 0);  // partition number
    writeDescriptorTag(out, TagLogicalVolume, location, 446 - 16);
}

void writePartitionDescriptor(const ImageProject& project, std::uint32_t location,
                              std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    putLe32(out + 16, 3);  // volume descriptor sequence number
    putLe16(out + 20, 1);  // partition flags: allocated
    putLe16(out + 22, 0);  // partition number
    writeEntityId(out + 24, "+NSR02");
    // 56 partition contents use: zero
    putLe32(out + 184, 1);  // access type: read-only
    putLe32(out + 188, project.udf.partitionStart);
    putLe32(out + 192, partitionBlocks(project));
    writeImplementationId(out + 196);
    // 228 implementation use: zero
    writeDescriptorTag(out, TagPartition, location, 496);
}

void writeUnallocatedSpaceDescriptor(std::uint32_t location, std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    putLe32(out + 16, 4);  // volume descriptor sequence number
    putLe32(out + 20, 0);  // number of allocation descriptors
    writeDescriptorTag(out, TagUnallocatedSpace, location, 24 - 16);
}

void writeImplementationUseDescriptor(const ImageProject& project, std::uint32_t location,
                                      std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    putLe32(out + 16, 5);  // volume descriptor sequence number
    writeEntityId(out + 20, "*UDF LV Info", 0x50, 0x01, 0x06);
    writeCharSpec(out + 52);
    writeLabelDString(project, out + 116, 128);
    // 244, 280, 316 information strings: zero
    writeImplementationId(out + 352);
    // 384 implementation use: zero
    writeDescriptorTag(out, TagImplementationUse, location, 496);
}

void writeTerminatingDescriptor(std::uint32_t location, std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    writeDescriptorTag(out, TagTerminating, location, 496);
}

void writeVolumeDescriptorSequences(const ImageProject& project, std::uint8_t* out) {
    std::memset(out, 0, 32 * BlockBytes);
    for (std::uint32_t start : {UdfMainVdsBlock, UdfReserveVdsBlock}) {
        std::uint8_t* sequence = out + (start - UdfMainVdsBlock) * BlockBytes;
        std::uint32_t location = physical(project, start);
        writeUdfPrimaryVolumeDescriptor(project, location + 0, sequence + 0 * BlockBytes);
        writeLogicalVolumeDescriptor(project, location + 1, sequence + 1 * BlockBytes);
        writePartitionDescriptor(project, location + 2, sequence + 2 * BlockBytes);
        writeUnallocatedSpaceDescriptor(location + 3, sequence + 3 * BlockBytes);
        writeImplementationUseDescriptor(project, location + 4, sequence + 4 * BlockBytes);
        writeTerminatingDescriptor(location + 5, sequence + 5 * BlockBytes);
    }
}

void writeIntegrityDescriptor(const ImageProject& project, std::uint32_t location,
                              std::uint8_t* out) {
    const UdfPlan& udf = project.udf;
    std::memset(out, 0, BlockBytes);
    std::memcpy(out + 16, udf.timestamp, 12);
    putLe32(out + 28, 1);  // integrity type: close
    // 32 next integrity extent: zero
    putLe64(out + 40, std::uint64_t{udf.dirCount} + udf.fileCount + 16);  // next unique id
    // 48 rest of the logical volume header: zero
    putLe32(out + 72, 1);   // number of partitions
    putLe32(out + 76, 48);  // length of implementation use
    putLe32(out + 80, 0);   // free space table
    putLe32(out + 84, partitionBlocks(project));  // size table
    writeImplementationId(out + 88);
    putLe32(out + 120, udf.fileCount);
    putLe32(out + 124, udf.dirCount);
    putLe16(out + 128, UdfRevision);  // minimum read revision
    putLe16(out + 130, UdfRevision);  // minimum write revision
    putLe16(out + 132, UdfRevision);  // maximum write revision
    writeDescriptorTag(out, TagIntegrity, location, 136 - 16);
}

void writeIntegritySequence(const ImageProject& project, std::uint8_t* out) {
    std::memset(out, 0, 4 * BlockBytes);
    writeIntegrityDescriptor(project, physical(project, UdfIntegrityBlock), out);
    writeTerminatingDescriptor(physical(project, UdfIntegrityBlock + 1), out + BlockBytes);
}

void writeFileSetDescriptor(const ImageProject& project, std::uint32_t location,
                            std::uint8_t* out) {
    std::memset(out, 0, BlockBytes);
    std::memcpy(out + 16, project.udf.timestamp, 12);
    putLe16(out + 28, 3);  // interchange level
    putLe16(out + 30, 3);  // maximum interchange level
    putLe32(out + 32, 1);  // character set list
    putLe32(out + 36, 1);  // maximum character set list
    putLe32(out + 40, 0);  // file set number
    putLe32(out + 44, 0);  // file set descriptor number
    writeCharSpec(out + 48);
    writeLabelDString(project, out + 112, 128);
    writeCharSpec(out + 240);
    writeLabelDString(project, out + 304, 32);
    // 336 copyright, 368 abstract file identifiers: zero
    writeLongAd(out + 400, BlockBytes,
                physical(project, project.root->udf.entryBlock) - project.udf.partitionStart);
    writeDomainId(out + 416, 0x00);
    // 448 next extent: zero
    writeDescriptorTag(out, TagFileSet, location, 496);
}

void writeFileSet(const ImageProject& project, std::uint8_t* out) {
    std::uint32_t logical = physical(project, UdfFileSetBlock) - project.udf.partitionStart;
    writeFileSetDescriptor(project, logical, out);
    writeTerminatingDescriptor(logical + 1, out + BlockBytes);
}

}  // namespace velk::image
