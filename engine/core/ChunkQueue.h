// The ring buffer between the producer and the writer: a bounded FIFO of
// sealed 64 KiB chunks, each its own heap block, freed as soon as the writer
// has taken it.
//
// One small interface: put a sealed chunk, take the oldest, clear, and the
// fill. The caller holds the project lock around put/take/clear; waits
// happen outside it. The queue never holds more than MaxQueueSlots chunks.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace velk {

inline constexpr std::uint32_t ChunkBytes = 65536;
inline constexpr std::uint32_t ChunkBlocks = ChunkBytes / 2048;
inline constexpr std::uint32_t MaxQueueSlots = 10000;

struct Chunk {
    std::unique_ptr<std::uint8_t[]> data;  // ChunkBytes, zero-filled when made
    std::uint32_t length = 0;               // bytes of the image it carries
};

// A fresh chunk block (contents undefined); null when memory is out.
std::unique_ptr<std::uint8_t[]> allocateChunk();

class ChunkQueue {
public:
    // Returns false (and keeps the chunk out) when every slot is taken.
    bool put(Chunk chunk);
    // The oldest chunk; an empty Chunk when there is none.
    Chunk take();
    // The newest sealed chunk, or null.
    Chunk* back();
    void clear();
    std::size_t size() const { return chunks_.size(); }

    // Blocks the writer is done with wait here for the producer to fill them
    // again, so a job's memory stays at the queue's limit and the allocator
    // does not churn 64 KiB blocks between two threads. At most `limit` are
    // kept.
    std::unique_ptr<std::uint8_t[]> reuse();
    void recycle(std::unique_ptr<std::uint8_t[]> block, std::size_t limit);

private:
    std::deque<Chunk> chunks_;
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_;
};

}  // namespace velk
