#include "engine/jobs/Digests.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velk::jobs {
namespace {

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
constexpr std::uint32_t RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t rotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t readBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct CrcTable {
    std::uint32_t entries[256];
    constexpr CrcTable() : entries() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[i] = c;
        }
    }
};
constexpr CrcTable Crc;

// One 64-byte block in portable code.
void compressPortable(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = readBe32(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        std::uint32_t choice = (e & f) ^ (~e & g);
        std::uint32_t t1 = h + s1 + choice + RoundConstants[i] + w[i];
        std::uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

#if defined(__x86_64__)
// The state as the SHA instructions want it, (A, B, E, F) and (C, D, G, H),
// and back.
__attribute__((target("sha,sse4.1"))) void loadShaState(const std::array<std::uint32_t, 8>& state, __m128i& abef,
                                                         __m128i& cdgh) {
    __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    __m128i cdab = _mm_shuffle_epi32(abcd, 0xB1);
    __m128i ghef = _mm_shuffle_epi32(efgh, 0x1B);
    abef = _mm_alignr_epi8(cdab, ghef, 8);
    cdgh = _mm_blend_epi16(ghef, cdab, 0xF0);
}

__attribute__((target("sha,sse4.1"))) void storeShaState(std::array<std::uint32_t, 8>& state, __m128i abef,
                                                          __m128i cdgh) {
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

// Compression with the SHA extensions: the state lives in two registers as
// (A, B, E, F) and (C, D, G, H); each sha256rnds2 does two rounds, taking
// the two message words plus constants in the low half of its third operand;
// sha256msg1/msg2 compute the message schedule four words at a time.
__attribute__((target("sha,sse4.1"))) void compressWithShaExtensions(std::array<std::uint32_t, 8>& state,
                                                                       const std::uint8_t* data, std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    __m128i abef, cdgh;
    loadShaState(state, abef, cdgh);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i savedAbef = abef, savedCdgh = cdgh;
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        }
        for (int group = 0; group < 16; ++group) {
            __m128i& current = w[group % 4];
            if (group >= 4) {
                // w[t..t+3] from the four groups before.
                __m128i previous = w[(group + 3) % 4];
                __m128i next = _mm_add_epi32(_mm_sha256msg1_epu32(current, w[(group + 1) % 4]),
                                             _mm_alignr_epi8(previous, w[(group + 2) % 4], 4));
                current = _mm_sha256msg2_epu32(next, previous);
            }
            __m128i message = _mm_add_epi32(
                current, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&RoundConstants[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(message, 0x0E));
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }
    storeShaState(state, abef, cdgh);
}

// Two messages at once: each sha256rnds2 waits for the one before it in its
// own message, so a single message leaves the SHA unit idle most of the
// time. Interleaving the rounds of two independent messages fills those
// gaps and nearly doubles the throughput of one core.
__attribute__((target("sha,sse4.1"))) void compressTwoWithShaExtensions(std::array<std::uint32_t, 8>& stateA,
                                                                          const std::uint8_t* dataA,
                                                                          std::array<std::uint32_t, 8>& stateB,
                                                                          const std::uint8_t* dataB, std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    __m128i abefA, cdghA, abefB, cdghB;
    loadShaState(stateA, abefA, cdghA);
    loadShaState(stateB, abefB, cdghB);
    for (; blocks > 0; --blocks, dataA += 64, dataB += 64) {
        const __m128i savedAbefA = abefA, savedCdghA = cdghA, savedAbefB = abefB, savedCdghB = cdghB;
        __m128i wA[4], wB[4];
        for (int i = 0; i < 4; ++i) {
            wA[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dataA + 16 * i)), byteSwap);
            wB[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dataB + 16 * i)), byteSwap);
        }
        for (int group = 0; group < 16; ++group) {
            __m128i& currentA = wA[group % 4];
            __m128i& currentB = wB[group % 4];
            if (group >= 4) {
                __m128i previousA = wA[(group + 3) % 4];
                __m128i previousB = wB[(group + 3) % 4];
                __m128i nextA = _mm_add_epi32(_mm_sha256msg1_epu32(currentA, wA[(group + 1) % 4]),
                                              _mm_alignr_epi8(previousA, wA[(group + 2) % 4], 4));
                __m128i nextB = _mm_add_epi32(_mm_sha256msg1_epu32(currentB, wB[(group + 1) % 4]),
                                              _mm_alignr_epi8(previousB, wB[(group + 2) % 4], 4));
                currentA = _mm_sha256msg2_epu32(nextA, previousA);
                currentB = _mm_sha256msg2_epu32(nextB, previousB);
            }
            const __m128i constants = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&RoundConstants[4 * group]));
            __m128i messageA = _mm_add_epi32(currentA, constants);
            __m128i messageB = _mm_add_epi32(currentB, constants);
            cdghA = _mm_sha256rnds2_epu32(cdghA, abefA, messageA);
            cdghB = _mm_sha256rnds2_epu32(cdghB, abefB, messageB);
            abefA = _mm_sha256rnds2_epu32(abefA, cdghA, _mm_shuffle_epi32(messageA, 0x0E));
            abefB = _mm_sha256rnds2_epu32(abefB, cdghB, _mm_shuffle_epi32(messageB, 0x0E));
        }
        abefA = _mm_add_epi32(abefA, savedAbefA);
        cdghA = _mm_add_epi32(cdghA, savedCdghA);
        abefB = _mm_add_epi32(abefB, savedAbefB);
        cdghB = _mm_add_epi32(cdghB, savedCdghB);
    }
    storeShaState(stateA, abefA, cdghA);
    storeShaState(stateB, abefB, cdghB);
}

std::atomic<bool> portableOnly{false};

bool haveShaExtensions() {
    static const bool have = __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1");
    return have && !portableOnly.load(std::memory_order_relaxed);
}
#endif

}  // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::forcePortable(bool portable) {
#if defined(__x86_64__)
    portableOnly = portable;
#else
    (void)portable;
#endif
}

void Sha256::compress(const std::uint8_t* data, std::size_t blocks) {
#if defined(__x86_64__)
    if (haveShaExtensions()) {
        compressWithShaExtensions(state_, data, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, data += 64) compressPortable(state_, data);
}

void Sha256::update(const std::uint8_t* data, std::size_t length) {
    totalBytes_ += length;
    if (pendingBytes_ > 0) {
        std::size_t take = std::min(length, pending_.size() - pendingBytes_);
        std::memcpy(pending_.data() + pendingBytes_, data, take);
        pendingBytes_ += take;
        data += take;
        length -= take;
        if (pendingBytes_ < pending_.size()) return;
        compress(pending_.data(), 1);
        pendingBytes_ = 0;
    }
    std::size_t whole = length / 64;
    if (whole > 0) compress(data, whole);
    data += whole * 64;
    length -= whole * 64;
    std::memcpy(pending_.data(), data, length);
    pendingBytes_ = length;
}

Sha256Digest Sha256::finish() {
    std::uint64_t bits = totalBytes_ * 8;
    std::uint8_t padding[72] = {0x80};
    std::size_t padBytes = (pendingBytes_ < 56 ? 56 : 120) - pendingBytes_;
    for (int i = 0; i < 8; ++i) padding[padBytes + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    update(padding, padBytes + 8);
    Sha256Digest digest;
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 4; ++k) digest[static_cast<std::size_t>(4 * i + k)] = static_cast<std::uint8_t>(state_[static_cast<std::size_t>(i)] >> (24 - 8 * k));
    }
    return digest;
}

Sha256Digest Sha256::of(const std::uint8_t* data, std::size_t length) {
    Sha256 hash;
    hash.update(data, length);
    return hash.finish();
}

std::array<Sha256Digest, 2> Sha256::ofTwo(const std::uint8_t* first, const std::uint8_t* second,
                                          std::size_t length) {
    Sha256 a, b;
#if defined(__x86_64__)
    if (haveShaExtensions()) {
        const std::size_t whole = length / 64;
        compressTwoWithShaExtensions(a.state_, first, b.state_, second, whole);
        a.totalBytes_ = b.totalBytes_ = whole * 64;
        first += whole * 64;
        second += whole * 64;
        length -= whole * 64;
    }
#endif
    a.update(first, length);
    b.update(second, length);
    return {a.finish(), b.finish()};
}

std::uint64_t blockFingerprint(const std::uint8_t* data, std::size_t length) {
    // Four independent lanes of multiply-rotate mixing, folded at the end.
    constexpr std::uint64_t Prime1 = 0x9E3779B185EBCA87ull, Prime2 = 0xC2B2AE3D27D4EB4Full;
    std::uint64_t lanes[4] = {Prime1, Prime2, ~Prime1, ~Prime2};
    std::size_t at = 0;
    for (; at + 32 <= length; at += 32) {
        for (int i = 0; i < 4; ++i) {
            std::uint64_t word;
            std::memcpy(&word, data + at + 8 * static_cast<std::size_t>(i), sizeof word);
            lanes[i] = ((lanes[i] ^ word) * Prime1);
            lanes[i] = (lanes[i] << 31) | (lanes[i] >> 33);
        }
    }
    for (; at + 8 <= length; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + at, sizeof word);
        lanes[0] = ((lanes[0] ^ word) * Prime2);
        lanes[0] = (lanes[0] << 27) | (lanes[0] >> 37);
    }
    std::uint64_t h = length;
    for (std::uint64_t lane : lanes) h = (h ^ lane) * Prime1 + Prime2;
    return h ^ (h >> 29);
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) c = Crc.entries[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

}  // namespace velk::jobs
