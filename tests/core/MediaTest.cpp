// The media table against the disc types and against itself: every code has
// its row, every profile finds its way back, and the columns agree with each
// other where the jobs rely on them together.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "engine/core/Media.h"

namespace velk {
namespace {

// Every code of DiscType.
constexpr DiscType AllCodes[] = {
    DiscNone,     DiscCdRom,     DiscCdR,      DiscCdRw,          DiscDvdRom,
    DiscDvdR,     DiscDvdRam,    DiscDvdRwRestricted, DiscDvdRwSequential, DiscDvdPlusRw,
    DiscDvdPlusR, DiscDvdPlusRDualLayer, DiscDdcdRom, DiscDdcdR, DiscDdcdRw,
};

std::set<int> codesWhere(bool (*predicate)(const Medium&)) {
    std::set<int> codes;
    for (const Medium& medium : allMedia()) {
        if (predicate(medium)) codes.insert(medium.type);
    }
    return codes;
}

TEST(MediaTableTest, EveryDiscTypeHasItsOwnRowAndEveryProfileLeadsBackToIt) {
    std::set<std::string> names;
    std::size_t rows = 0;
    for (const Medium& medium : allMedia()) {
        SCOPED_TRACE(medium.name);
        ++rows;
        EXPECT_EQ(&mediumOf(medium.type), &medium);
        EXPECT_TRUE(names.insert(medium.name).second) << "two rows share a name";
        if (medium.type != DiscNone) {
            EXPECT_EQ(discTypeOfProfile(medium.profile), medium.type);
        }
    }
    EXPECT_EQ(rows, std::size(AllCodes));
    for (DiscType code : AllCodes) EXPECT_STRNE(mediumOf(code).name, "unknown") << int{code};
    // Codes between the named ones, and profiles no row has, are nothing.
    EXPECT_STREQ(mediumOf(7).name, "unknown");
    EXPECT_FALSE(mediumOf(7).overwritable());
    EXPECT_EQ(discTypeOfProfile(0x0041), DiscNone);  // BD-R: not yet a row
    EXPECT_EQ(discTypeOfProfile(0x0000), DiscNone);
}

TEST(MediaTableTest, OnlyFormattedDvdsAreOverwrittenAndOnlySequentialRecordablesSimulate) {
    // DVD-RW sequential is appended to like a DVD-R: writing its first chunk
    // at address 0 as well fails the burn.
    EXPECT_EQ(codesWhere([](const Medium& m) { return m.overwritable(); }),
              (std::set<int>{DiscDvdRam, DiscDvdRwRestricted, DiscDvdPlusRw}));
    EXPECT_FALSE(mediumOf(DiscDvdRwSequential).overwritable());
    // Until a burn's quick format makes it restricted overwrite: a test
    // write formats nothing.
    EXPECT_TRUE(mediumOf(DiscDvdRwSequential).writtenInPlace(false));
    EXPECT_FALSE(mediumOf(DiscDvdRwSequential).writtenInPlace(true));
    EXPECT_FALSE(mediumOf(DiscDvdR).writtenInPlace(false));
    // Overwritable media ignore the test-write bit, DVD+R has no simulation:
    // either would record for real.
    EXPECT_EQ(codesWhere([](const Medium& m) { return m.testWrite; }),
              (std::set<int>{DiscCdR, DiscCdRw, DiscDvdR, DiscDvdRwSequential, DiscDdcdR, DiscDdcdRw}));
    EXPECT_EQ(codesWhere([](const Medium& m) { return m.readOnly(); }),
              (std::set<int>{DiscCdRom, DiscDvdRom, DiscDdcdRom}));
    EXPECT_EQ(codesWhere([](const Medium& m) { return m.cdLike(); }),
              (std::set<int>{DiscCdRom, DiscCdR, DiscCdRw, DiscDdcdRom, DiscDdcdR, DiscDdcdRw}));
}

TEST(MediaTableTest, ColumnsAgreeWithEachOther) {
    for (const Medium& medium : allMedia()) {
        SCOPED_TRACE(medium.name);
        const bool writable = medium.recording == Recording::WriteOnce || medium.recording == Recording::Rewritable;
        // Only a medium that takes data has a way of writing it.
        EXPECT_EQ(writable, medium.order != WriteOrder::None);
        // A simulated write goes to the next writable address of a track.
        if (medium.testWrite) {
            EXPECT_EQ(medium.order, WriteOrder::Sequential);
        }
        // Only rewritable media are erased, each in a way the erase job knows.
        EXPECT_EQ(medium.erase != EraseMethod::None, medium.recording == Recording::Rewritable);
        if (medium.erase == EraseMethod::Format) {
            EXPECT_TRUE(medium.format == FormatMethod::Full || medium.format == FormatMethod::Background);
        }
        if (medium.format != FormatMethod::None) {
            EXPECT_EQ(medium.family, MediumFamily::Dvd);
        }
        // The closing and the write parameters of a DVD are a DVD's.
        const bool dvdClose = medium.close != CloseFunctions::Generic && medium.close != CloseFunctions::Cd;
        if (dvdClose) {
            EXPECT_EQ(medium.family, MediumFamily::Dvd);
        }
        if (medium.close == CloseFunctions::Cd) {
            EXPECT_EQ(medium.family, MediumFamily::Cd);
        }
        if (medium.writeMode == WriteMode::DdcdSessionAtOnce) {
            EXPECT_EQ(medium.family, MediumFamily::Ddcd);
        }
    }
}

}  // namespace
}  // namespace velk
