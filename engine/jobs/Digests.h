// The digests a verifying burn keeps of what it sent: SHA-256 (FIPS 180-4)
// of each chunk, and CRC-32 (the IEEE 802.3 polynomial) of each block, which
// only serves to name the first bad block of a chunk whose digest differs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velk::jobs {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    void update(const std::uint8_t* data, std::size_t length);
    Sha256Digest finish();

    static Sha256Digest of(const std::uint8_t* data, std::size_t length);

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingBytes_ = 0;
    std::uint64_t totalBytes_ = 0;
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

}  // namespace velk::jobs
