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

TEST(DigestsTest, BlockFingerprintsTellBlocksApartByAnyByte) {
    std::vector<std::uint8_t> block(2048, 0x5A);
    const std::uint64_t original = blockFingerprint(block.data(), block.size());
    EXPECT_EQ(blockFingerprint(block.data(), block.size()), original);
    for (std::size_t at : {0u, 7u, 8u, 31u, 1024u, 2047u}) {
        std::vector<std::uint8_t> changed = block;
        changed[at] ^= 0x01;
        EXPECT_NE(blockFingerprint(changed.data(), changed.size()), original) << at;
    }
    std::vector<std::uint8_t> zeros(2048, 0);
    EXPECT_NE(blockFingerprint(zeros.data(), 2048), blockFingerprint(zeros.data(), 2040));
}

TEST(DigestsTest, Crc32CheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
}

}  // namespace
}  // namespace velk::jobs
