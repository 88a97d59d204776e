// The producer thread: streams the image into the chunk queue without ever
// assembling it. Stream order: the generated header, the boot image, the UDF
// file-structure area, the data of every file in layout order (each from a
// block boundary, its last block zero-filled) and, with UDF, the closing
// anchor in the image's last block. A burn from an image file streams the
// file instead.
//
// Back-pressure: header and UDF pieces wait while the queue holds maxChunks
// chunks, boot image and file pieces while it holds maxChunks - 1. The
// producer never ends before the writer has taken every chunk, unless a stop
// is requested; every wait looks at the stop flag at least every 20 ms.
#pragma once

#include <cstdint>

#include "engine/image/ImageProject.h"

namespace velk::jobs {

// Starts the producer thread; false when it cannot be started.
[[nodiscard]] bool StartProducer(ImageProject& project);

// Copies the oldest chunk into writeBuffer (ChunkBytes). Returns its length
// in bytes, -1 when no chunk is ready yet, 0 when the producer has finished
// or a stop was requested while it was busy.
std::int32_t TakeChunk(ImageProject& project, std::uint8_t* writeBuffer);

// The writer's form of TakeChunk: hands the oldest chunk over without a
// copy. Same results; `chunk` holds the chunk when the result is > 0.
std::int32_t TakeChunkBlock(ImageProject& project, Chunk& chunk);
// Gives a written chunk's block back so the producer can fill it again.
void ReturnChunk(ImageProject& project, Chunk chunk);

// Frees every queued chunk.
void FreeChunks(ImageProject& project);

}  // namespace velk::jobs
