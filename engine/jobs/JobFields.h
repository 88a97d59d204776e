// Job fields that the recording jobs share with the project: polled by the
// user interface and by the other job thread, so every one is atomic.
#pragma once

#include <atomic>
#include <cstdint>

namespace velk {

struct JobFields {
    std::atomic<std::int32_t> jobState{0};
    std::atomic<std::int32_t> stopRequested{0};
    std::atomic<std::int32_t> chunkCount{0};
    std::atomic<std::int32_t> bufferSize{0};
    std::atomic<std::uint32_t> blocksWritten{0};
};

}  // namespace velk
