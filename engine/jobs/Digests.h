// The digests a verifying burn keeps of what it sent: SHA-256 (FIPS 180-4)
// of each chunk, and a 64-bit fingerprint of each block, which only serves
// to name the first bad block of a chunk whose SHA-256 differs. SHA-256 uses
// the processor's SHA instructions where it has them, so hashing keeps ahead
// of any drive; CRC-32 (the IEEE 802.3 polynomial) is kept for its check
// value in tests and for callers that want a standard checksum.
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
    // The digests of two messages of the same length, hashed side by side
    // (nearly twice the speed of two calls of `of` with SHA instructions).
    static std::array<Sha256Digest, 2> ofTwo(const std::uint8_t* first, const std::uint8_t* second,
                                             std::size_t length);
    // Tests: hash with the portable code even where the processor's SHA
    // instructions are there, so both paths are checked on one machine.
    static void forcePortable(bool portable);

private:
    // Processes `blocks` 64-byte blocks.
    void compress(const std::uint8_t* data, std::size_t blocks);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingBytes_ = 0;
    std::uint64_t totalBytes_ = 0;
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

// A fast 64-bit fingerprint of `length` bytes (a multiple of 8), not a
// cryptographic hash: two blocks that differ in any byte almost surely get
// different fingerprints.
std::uint64_t blockFingerprint(const std::uint8_t* data, std::size_t length);

}  // namespace velk::jobs
