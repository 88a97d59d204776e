// The digests a verifying burn keeps: SHA-256 against the standard's
// examples and whatever way the bytes arrive, CRC-32 against its check value.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/jobs/Digests.h"

namespace velk::jobs {
namespace {

std::string hex(const Sha256Digest& digest) {
    std::string out;
    char two[3];
    for (std::uint8_t b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

Sha256Digest ofText(const std::string& text) {
    return Sha256::of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(DigestsTest, Sha256OfTheStandardsExamples) {
  for (bool portable : {false, true}) {
    SCOPED_TRACE(portable ? "portable" : "processor's SHA instructions where present");
    Sha256::forcePortable(portable);
    EXPECT_EQ(hex(ofText("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(ofText("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(ofText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex(ofText(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
  Sha256::forcePortable(false);
}

TEST(DigestsTest, Sha256IsTheSameWhateverThePieces) {
    std::vector<std::uint8_t> data(65536 + 77);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 7));
    Sha256Digest whole = Sha256::of(data.data(), data.size());
    for (std::size_t piece : {1u, 55u, 63u, 64u, 65u, 2048u}) {
        Sha256 hash;
        for (std::size_t at = 0; at < data.size(); at += piece) hash.update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(hash.finish(), whole) << piece;
    }
}

TEST(DigestsTest, TwoMessagesSideBySideHashAsEachAlone) {
    std::vector<std::uint8_t> first(65536 + 77), second(first.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<std::uint8_t>(i * 31 + (i >> 7));
        second[i] = static_cast<std::uint8_t>(i * 17 + 3);
    }
    for (bool portable : {false, true}) {
        Sha256::forcePortable(portable);
        for (std::size_t length : {0u, 55u, 64u, 130u, 65536u, 65536u + 77u}) {
            SCOPED_TRACE(std::to_string(length) + (portable ? " portable" : ""));
            auto both = Sha256::ofTwo(first.data(), second.data(), length);
            EXPECT_EQ(both[0], Sha256::of(first.data(), length));
            EXPECT_EQ(both[1], Sha256::of(second.data(), length));
        }
    }
    Sha256::forcePortable(false);
}

TEST(DigestsTest, PrefixPrintsNameTheFirstStrideThatDiffers) {
    // Two chunks of 32 blocks side by side and one alone, in both code paths:
    // the prints agree up to the changed block and differ from it on.
    std::vector<std::uint8_t> original(32 * 2048);
    for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<std::uint8_t>(i * 7 + i / 2048);
    for (bool portable : {false, true}) {
        Sha256::forcePortable(portable);
        for (std::size_t at : {0u, 2047u, 2048u, 40000u, 32u * 2048 - 1}) {
            SCOPED_TRACE(testing::Message() << (portable ? "portable, " : "") << "byte " << at);
            std::vector<std::uint8_t> changed = original;
            changed[at] ^= 0x10;
            std::uint64_t printsA[32], printsB[32], alone[32];
            auto both = Sha256::ofTwo(original.data(), changed.data(), original.size(), 2048, printsA, printsB);
            EXPECT_EQ(both[0], Sha256::of(original.data(), original.size()));
            EXPECT_EQ(both[1], Sha256::of(changed.data(), changed.size(), 2048, alone));
            for (std::size_t b = 0; b < 32; ++b) {
                EXPECT_EQ(printsA[b] == printsB[b], b < at / 2048) << b;
                EXPECT_EQ(alone[b], printsB[b]) << b;
            }
        }
    }
    Sha256::forcePortable(false);
}

TEST(DigestsTest, ManyMessagesSideBySideHashAsEachAlone) {
    // Every way the processor offers: sixteen vector lanes, the SHA
    // instructions two by two, the portable code. Counts below sixteen and
    // lengths with a tail under 64 bytes take the other paths of ofMany.
    struct Path {
        const char* name;
        int wide;
        bool portable;
    };
    const Path paths[] = {{"16 lanes", 1, false}, {"two by two", -1, false}, {"portable", -1, true}};
    std::vector<std::vector<std::uint8_t>> messages(Sha256::MaxLanes, std::vector<std::uint8_t>(65536));
    for (std::size_t n = 0; n < messages.size(); ++n) {
        for (std::size_t i = 0; i < messages[n].size(); ++i) {
            messages[n][i] = static_cast<std::uint8_t>((i * 31 + n * 17) ^ (i >> 8));
        }
    }
    for (const Path& path : paths) {
        if (!Sha256::forceWideLanes(path.wide)) continue;  // no 512-bit vectors here
        Sha256::forcePortable(path.portable);
        for (std::size_t count : {std::size_t{1}, std::size_t{3}, Sha256::MaxLanes}) {
            for (std::size_t length : {std::size_t{65536}, std::size_t{6144}, std::size_t{1000}}) {
                SCOPED_TRACE(testing::Message() << path.name << ", " << count << " messages of " << length);
                const std::uint8_t* pointers[Sha256::MaxLanes];
                std::vector<std::vector<std::uint64_t>> prints(count, std::vector<std::uint64_t>(32));
                std::uint64_t* printPointers[Sha256::MaxLanes];
                for (std::size_t n = 0; n < count; ++n) {
                    pointers[n] = messages[n].data();
                    printPointers[n] = prints[n].data();
                }
                Sha256Digest digests[Sha256::MaxLanes];
                Sha256::ofMany(pointers, count, length, digests, 2048, printPointers);
                for (std::size_t n = 0; n < count; ++n) {
                    std::vector<std::uint64_t> alone(32);
                    EXPECT_EQ(digests[n], Sha256::of(messages[n].data(), length, 2048, alone.data())) << n;
                    EXPECT_EQ(prints[n], alone) << n;
                }
                // Without prints.
                Sha256::ofMany(pointers, count, length, digests);
                EXPECT_EQ(digests[count - 1], Sha256::of(messages[count - 1].data(), length));
            }
        }
    }
    Sha256::forcePortable(false);
    Sha256::forceWideLanes(0);
}

TEST(DigestsTest, Crc32CheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
}

}  // namespace
}  // namespace velk::jobs
