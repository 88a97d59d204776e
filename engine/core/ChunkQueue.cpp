#include "engine/core/ChunkQueue.h"

#include <new>

namespace velk {

std::unique_ptr<std::uint8_t[]> allocateChunk() {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[ChunkBytes]);
}

bool ChunkQueue::put(Chunk chunk) {
    if (chunks_.size() >= MaxQueueSlots) return false;
    chunks_.push_back(std::move(chunk));
    return true;
}

Chunk ChunkQueue::take() {
    if (chunks_.empty()) return {};
    Chunk oldest = std::move(chunks_.front());
    chunks_.pop_front();
    return oldest;
}

Chunk* ChunkQueue::back() { return chunks_.empty() ? nullptr : &chunks_.back(); }

void ChunkQueue::clear() {
    chunks_.clear();
    spare_.clear();
}

std::unique_ptr<std::uint8_t[]> ChunkQueue::reuse() {
    if (spare_.empty()) return allocateChunk();
    std::unique_ptr<std::uint8_t[]> block = std::move(spare_.back());
    spare_.pop_back();
    return block;
}

void ChunkQueue::recycle(std::unique_ptr<std::uint8_t[]> block, std::size_t limit) {
    if (block && spare_.size() < limit) spare_.push_back(std::move(block));
}

}  // namespace velk
