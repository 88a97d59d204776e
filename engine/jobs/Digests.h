// The digests a verifying burn keeps of what it sent: SHA-256 (FIPS 180-4)
// of each chunk and, to name the first bad block of a chunk whose SHA-256
// differs, a 64-bit print of the hash's state after each block, taken on the
// way at no extra cost. SHA-256 uses the processor's SHA instructions where
// it has them, so hashing keeps ahead of any drive; CRC-32 (the IEEE 802.3
// polynomial) is kept for its check value in tests and for callers that want
// a standard checksum.
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

    // Where `prints` is given, it also receives a print of the state after
    // each whole `stride` bytes (a multiple of 64): two messages of one
    // length first differ in the stride whose print is the first to differ.
    static Sha256Digest of(const std::uint8_t* data, std::size_t length, std::size_t stride = 0,
                           std::uint64_t* prints = nullptr);
    // The digests of two messages of the same length, hashed side by side
    // (faster than two calls of `of` with SHA instructions), with their
    // prints as above.
    static std::array<Sha256Digest, 2> ofTwo(const std::uint8_t* first, const std::uint8_t* second,
                                             std::size_t length, std::size_t stride = 0,
                                             std::uint64_t* printsFirst = nullptr,
                                             std::uint64_t* printsSecond = nullptr);
    // Up to MaxLanes messages of one length. Where the processor has
    // 512-bit vectors and they beat its SHA instructions (measured once),
    // sixteen messages go side by side, one in each 32-bit lane; otherwise
    // they go two by two as in ofTwo. `prints`, where given, holds one
    // array per message, as for `of`.
    static constexpr std::size_t MaxLanes = 16;
    static void ofMany(const std::uint8_t* const* messages, std::size_t count, std::size_t length,
                       Sha256Digest* digests, std::size_t stride = 0, std::uint64_t* const* prints = nullptr);
    // Tests: hash with the portable code even where the processor's SHA
    // instructions are there, so both paths are checked on one machine.
    static void forcePortable(bool portable);
    // Tests: 1 always takes the 16-lane vectors for sixteen messages (false
    // when the processor lacks them), -1 never, 0 chooses by measurement.
    static bool forceWideLanes(int choice);

private:
    // Processes `blocks` 64-byte blocks.
    void compress(const std::uint8_t* data, std::size_t blocks);
    // 64 bits of the state so far.
    std::uint64_t print() const;

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingBytes_ = 0;
    std::uint64_t totalBytes_ = 0;
};

std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

}  // namespace velk::jobs
