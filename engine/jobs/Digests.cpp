#include "engine/jobs/Digests.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
// g++ 12 warns falsely inside its own AVX-512 intrinsics (their "undefined"
// register operands); the warning stays on for the code of this file.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
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
//
// `Count` messages of one length go side by side: each sha256rnds2 waits for
// the one before it in its own message, so a single message leaves the SHA
// unit idle much of the time, and interleaving the rounds of independent
// messages fills those gaps. The states and message words are locals and
// the rounds are unrolled, so that all of them stay in registers.
template <int Count>
__attribute__((target("sha,sse4.1"))) void compressWithShaExtensions(std::array<std::uint32_t, 8>* const* states,
                                                                       const std::uint8_t* const* messages,
                                                                       std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
    __m128i abef[Count], cdgh[Count];
    for (int n = 0; n < Count; ++n) loadShaState(*states[n], abef[n], cdgh[n]);
    for (std::size_t block = 0; block < blocks; ++block) {
        __m128i savedAbef[Count], savedCdgh[Count], w[Count][4];
        for (int n = 0; n < Count; ++n) {
            savedAbef[n] = abef[n];
            savedCdgh[n] = cdgh[n];
            const std::uint8_t* data = messages[n] + 64 * block;
            for (int i = 0; i < 4; ++i) {
                w[n][i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
            }
        }
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            const __m128i constants = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&RoundConstants[4 * group]));
            __m128i message[Count];
            for (int n = 0; n < Count; ++n) {
                __m128i& current = w[n][group % 4];
                if (group >= 4) {
                    // w[t..t+3] from the four groups before.
                    const __m128i previous = w[n][(group + 3) % 4];
                    const __m128i next = _mm_add_epi32(_mm_sha256msg1_epu32(current, w[n][(group + 1) % 4]),
                                                       _mm_alignr_epi8(previous, w[n][(group + 2) % 4], 4));
                    current = _mm_sha256msg2_epu32(next, previous);
                }
                message[n] = _mm_add_epi32(current, constants);
            }
            for (int n = 0; n < Count; ++n) cdgh[n] = _mm_sha256rnds2_epu32(cdgh[n], abef[n], message[n]);
            for (int n = 0; n < Count; ++n) {
                abef[n] = _mm_sha256rnds2_epu32(abef[n], cdgh[n], _mm_shuffle_epi32(message[n], 0x0E));
            }
        }
        for (int n = 0; n < Count; ++n) {
            abef[n] = _mm_add_epi32(abef[n], savedAbef[n]);
            cdgh[n] = _mm_add_epi32(cdgh[n], savedCdgh[n]);
        }
    }
    for (int n = 0; n < Count; ++n) storeShaState(*states[n], abef[n], cdgh[n]);
}

// Sixteen messages at once in 512-bit vectors, one message in each 32-bit
// lane: the rounds as written in the standard, with rotations and
// three-input logic (vpternlogd: 0x96 is x ^ y ^ z, 0xCA is choice, 0xE8 is
// majority) done in one instruction each. The message words are gathered
// from the sixteen messages and byte-swapped to big-endian.
__attribute__((target("avx512f,avx512bw"))) void compressSixteen(std::array<std::uint32_t, 8>* const* states,
                                                                  const std::uint8_t* const* messages,
                                                                  std::size_t blocks) {
    __m512i state[8];
    for (int i = 0; i < 8; ++i) {
        alignas(64) std::uint32_t lanes[16];
        for (int n = 0; n < 16; ++n) lanes[n] = (*states[n])[static_cast<std::size_t>(i)];
        state[i] = _mm512_load_si512(lanes);
    }
    alignas(64) long long addresses[16];
    for (int n = 0; n < 16; ++n) addresses[n] = static_cast<long long>(reinterpret_cast<std::uintptr_t>(messages[n]));
    const __m512i low = _mm512_load_si512(addresses), high = _mm512_load_si512(addresses + 8);
    const __m512i byteSwap = _mm512_set4_epi32(0x0c0d0e0f, 0x08090a0b, 0x04050607, 0x00010203);
    for (std::size_t block = 0; block < blocks; ++block) {
        __m512i w[16];
        for (int t = 0; t < 16; ++t) {
            const std::size_t at = 64 * block + 4 * static_cast<std::size_t>(t);
            const __m512i offset = _mm512_set1_epi64(static_cast<long long>(at));
            const __m256i first = _mm512_i64gather_epi32(_mm512_add_epi64(low, offset), nullptr, 1);
            const __m256i second = _mm512_i64gather_epi32(_mm512_add_epi64(high, offset), nullptr, 1);
            w[t] = _mm512_shuffle_epi8(_mm512_inserti64x4(_mm512_castsi256_si512(first), second, 1), byteSwap);
        }
        __m512i a = state[0], b = state[1], c = state[2], d = state[3];
        __m512i e = state[4], f = state[5], g = state[6], h = state[7];
#pragma GCC unroll 64
        for (int t = 0; t < 64; ++t) {
            if (t >= 16) {
                const __m512i x = w[(t - 15) & 15], y = w[(t - 2) & 15];
                const __m512i s0 = _mm512_ternarylogic_epi32(_mm512_ror_epi32(x, 7), _mm512_ror_epi32(x, 18),
                                                             _mm512_srli_epi32(x, 3), 0x96);
                const __m512i s1 = _mm512_ternarylogic_epi32(_mm512_ror_epi32(y, 17), _mm512_ror_epi32(y, 19),
                                                             _mm512_srli_epi32(y, 10), 0x96);
                w[t & 15] = _mm512_add_epi32(_mm512_add_epi32(w[t & 15], s0), _mm512_add_epi32(w[(t - 7) & 15], s1));
            }
            const __m512i sum1 = _mm512_ternarylogic_epi32(_mm512_ror_epi32(e, 6), _mm512_ror_epi32(e, 11),
                                                           _mm512_ror_epi32(e, 25), 0x96);
            const __m512i choice = _mm512_ternarylogic_epi32(e, f, g, 0xCA);
            const __m512i constant = _mm512_set1_epi32(static_cast<int>(RoundConstants[t]));
            const __m512i t1 = _mm512_add_epi32(_mm512_add_epi32(h, sum1),
                                                _mm512_add_epi32(choice, _mm512_add_epi32(w[t & 15], constant)));
            const __m512i sum0 = _mm512_ternarylogic_epi32(_mm512_ror_epi32(a, 2), _mm512_ror_epi32(a, 13),
                                                           _mm512_ror_epi32(a, 22), 0x96);
            const __m512i majority = _mm512_ternarylogic_epi32(a, b, c, 0xE8);
            h = g;
            g = f;
            f = e;
            e = _mm512_add_epi32(d, t1);
            d = c;
            c = b;
            b = a;
            a = _mm512_add_epi32(t1, _mm512_add_epi32(sum0, majority));
        }
        state[0] = _mm512_add_epi32(state[0], a);
        state[1] = _mm512_add_epi32(state[1], b);
        state[2] = _mm512_add_epi32(state[2], c);
        state[3] = _mm512_add_epi32(state[3], d);
        state[4] = _mm512_add_epi32(state[4], e);
        state[5] = _mm512_add_epi32(state[5], f);
        state[6] = _mm512_add_epi32(state[6], g);
        state[7] = _mm512_add_epi32(state[7], h);
    }
    for (int i = 0; i < 8; ++i) {
        alignas(64) std::uint32_t lanes[16];
        _mm512_store_si512(lanes, state[i]);
        for (int n = 0; n < 16; ++n) (*states[n])[static_cast<std::size_t>(i)] = lanes[n];
    }
}

std::atomic<bool> portableOnly{false};
std::atomic<int> wideChoice{0};

bool haveShaExtensions() {
    static const bool have = __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1");
    return have && !portableOnly.load(std::memory_order_relaxed);
}

bool haveWideLanes() {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return have;
}

// Whether sixteen lanes beat the SHA instructions two by two. That depends
// on how wide the processor really runs 512-bit vectors, so it is measured:
// the best of three rounds of each over 128 KiB, well under a millisecond.
bool wideLanesMeasuredFaster() {
    if (!haveShaExtensions()) return true;
    constexpr std::size_t Length = 8192;
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[16 * Length]);
    for (std::size_t i = 0; i < 16 * Length; ++i) data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 11));
    std::array<std::uint32_t, 8> states[16];
    std::array<std::uint32_t, 8>* statePointers[16];
    const std::uint8_t* messages[16];
    for (std::size_t n = 0; n < 16; ++n) {
        statePointers[n] = &states[n];
        messages[n] = data.get() + n * Length;
        states[n].fill(static_cast<std::uint32_t>(n));
    }
    using Clock = std::chrono::steady_clock;
    Clock::duration wide = Clock::duration::max(), pairs = Clock::duration::max();
    for (int round = 0; round < 3; ++round) {
        Clock::time_point start = Clock::now();
        compressSixteen(statePointers, messages, Length / 64);
        wide = std::min(wide, Clock::now() - start);
        start = Clock::now();
        for (std::size_t n = 0; n < 16; n += 2) {
            compressWithShaExtensions<2>(statePointers + n, messages + n, Length / 64);
        }
        pairs = std::min(pairs, Clock::now() - start);
    }
    // A clear margin, so that a disturbed measurement keeps the SHA
    // instructions, which are never slow.
    return wide * 10 < pairs * 9;
}

bool useWideLanes() {
    if (!haveWideLanes() || portableOnly.load(std::memory_order_relaxed)) return false;
    const int choice = wideChoice.load(std::memory_order_relaxed);
    if (choice != 0) return choice > 0;
    static const bool faster = wideLanesMeasuredFaster();
    return faster;
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

bool Sha256::forceWideLanes(int choice) {
#if defined(__x86_64__)
    wideChoice = choice;
    return choice <= 0 || haveWideLanes();
#else
    return choice <= 0;
#endif
}

void Sha256::compress(const std::uint8_t* data, std::size_t blocks) {
#if defined(__x86_64__)
    if (haveShaExtensions()) {
        std::array<std::uint32_t, 8>* states[1] = {&state_};
        compressWithShaExtensions<1>(states, &data, blocks);
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

std::uint64_t Sha256::print() const { return (std::uint64_t{state_[0]} << 32 | state_[1]) ^ state_[4]; }

Sha256Digest Sha256::of(const std::uint8_t* data, std::size_t length, std::size_t stride, std::uint64_t* prints) {
    Sha256 hash;
    if (prints != nullptr && stride > 0) {
        for (; length >= stride; data += stride, length -= stride) {
            hash.update(data, stride);
            *prints++ = hash.print();
        }
    }
    hash.update(data, length);
    return hash.finish();
}

std::array<Sha256Digest, 2> Sha256::ofTwo(const std::uint8_t* first, const std::uint8_t* second, std::size_t length,
                                          std::size_t stride, std::uint64_t* printsFirst,
                                          std::uint64_t* printsSecond) {
    Sha256 a, b;
    const bool printing = printsFirst != nullptr && printsSecond != nullptr && stride > 0 && stride % 64 == 0;
    // Without prints the whole message is one stride.
    const std::size_t step = printing ? stride : length / 64 * 64;
    while (step > 0 && length >= step) {
#if defined(__x86_64__)
        if (haveShaExtensions()) {
            std::array<std::uint32_t, 8>* states[2] = {&a.state_, &b.state_};
            const std::uint8_t* messages[2] = {first, second};
            compressWithShaExtensions<2>(states, messages, step / 64);
            a.totalBytes_ += step;
            b.totalBytes_ += step;
        } else
#endif
        {
            a.update(first, step);
            b.update(second, step);
        }
        if (printing) {
            *printsFirst++ = a.print();
            *printsSecond++ = b.print();
        }
        first += step;
        second += step;
        length -= step;
    }
    a.update(first, length);
    b.update(second, length);
    return {a.finish(), b.finish()};
}

void Sha256::ofMany(const std::uint8_t* const* messages, std::size_t count, std::size_t length,
                    Sha256Digest* digests, std::size_t stride, std::uint64_t* const* prints) {
    const bool printing = prints != nullptr && stride > 0 && stride % 64 == 0;
#if defined(__x86_64__)
    if (count == MaxLanes && useWideLanes()) {
        Sha256 hashes[MaxLanes];
        std::array<std::uint32_t, 8>* states[MaxLanes];
        for (std::size_t n = 0; n < MaxLanes; ++n) states[n] = &hashes[n].state_;
        const std::size_t step = printing ? stride : length / 64 * 64;
        std::size_t done = 0;
        for (std::size_t strides = 0; step > 0 && length - done >= step; ++strides, done += step) {
            const std::uint8_t* at[MaxLanes];
            for (std::size_t n = 0; n < MaxLanes; ++n) at[n] = messages[n] + done;
            compressSixteen(states, at, step / 64);
            for (std::size_t n = 0; n < MaxLanes; ++n) {
                hashes[n].totalBytes_ += step;
                if (printing) prints[n][strides] = hashes[n].print();
            }
        }
        for (std::size_t n = 0; n < MaxLanes; ++n) {
            hashes[n].update(messages[n] + done, length - done);
            digests[n] = hashes[n].finish();
        }
        return;
    }
#endif
    std::size_t n = 0;
    for (; n + 1 < count; n += 2) {
        auto two = ofTwo(messages[n], messages[n + 1], length, stride, printing ? prints[n] : nullptr,
                         printing ? prints[n + 1] : nullptr);
        digests[n] = two[0];
        digests[n + 1] = two[1];
    }
    if (n < count) digests[n] = of(messages[n], length, stride, printing ? prints[n] : nullptr);
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) c = Crc.entries[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

}  // namespace velk::jobs
