// UDF 1.50 bridge volume structures (ECMA-167 2nd edition "NSR02", OSTA
// UDF 1.50): the volume recognition sequence, the anchor volume descriptor
// pointers, the main and reserve volume descriptor sequences, the logical
// volume integrity sequence and the file set descriptor.
//
// Locations are fixed: recognition sequence right after the ISO 9660
// terminator, sequences at 32 and 48, integrity at 64, anchor at 256, the
// partition from physical block 257 (file set descriptor at 257, its
// terminator at 258), the closing anchor in the image's last block. Every
// physical location written is the relative block + udfSessionStart; inside
// the partition, logical block = physical - partition start. The partition
// starts at physical 257 on every session, so on an appended session it spans
// the earlier sessions as well; when a file kept from an earlier session lies
// before block 257 it starts at physical 0 instead. Numbers are little-endian.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"

namespace velk::image {

// Planning: takes the timestamp, sets the fixed locations (the recognition
// sequence at `vrsStart`) and resets the counters of the file structures.
void fixUdfLocations(ImageProject& project, std::uint32_t vrsStart);
// Planning, once the size is final: the closing anchor at `lastBlock`, the
// partition length (lastBlock - 257) and the data start.
void fixUdfSize(ImageProject& project, std::uint32_t lastBlock, std::uint32_t dataStart);
// The label as compressed Unicode: at most 15 units of volumeLabelW.
void makeUdfLabel(ImageProject& project);

// Each writer fills whole 2048-byte blocks at `out` (zeros included).
void writeRecognitionSequence(std::uint8_t* out);                        // 3 blocks
void writeVolumeDescriptorSequences(const ImageProject& project, std::uint8_t* out);  // 32 blocks
void writeIntegritySequence(const ImageProject& project, std::uint8_t* out);  // 4 blocks
void writeFileSet(const ImageProject& project, std::uint8_t* out);       // 2 blocks
// One block: the anchor volume descriptor pointer at relative block
// `block` (256, or udf.closingAnchor for the image's last block).
void writeAnchor(const ImageProject& project, std::uint32_t block, std::uint8_t* out);

// The single records, for tests and for the writers above; each fills one
// 2048-byte block at `out` with the tag location given.
void writeUdfPrimaryVolumeDescriptor(const ImageProject& project, std::uint32_t location,
                                     std::uint8_t* out);
void writeLogicalVolumeDescriptor(const ImageProject& project, std::uint32_t location,
                                  std::uint8_t* out);
void writePartitionDescriptor(const ImageProject& project, std::uint32_t location,
                              std::uint8_t* out);
void writeUnallocatedSpaceDescriptor(std::uint32_t location, std::uint8_t* out);
void writeImplementationUseDescriptor(const ImageProject& project, std::uint32_t location,
                                      std::uint8_t* out);
void writeTerminatingDescriptor(std::uint32_t location, std::uint8_t* out);
void writeIntegrityDescriptor(const ImageProject& project, std::uint32_t location,
                              std::uint8_t* out);
void writeFileSetDescriptor(const ImageProject& project, std::uint32_t location,
                            std::uint8_t* out);

}  // namespace velk::image
