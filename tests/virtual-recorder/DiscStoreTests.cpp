// Disc files: the layout on disk, what a second process sees, crash safety.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "RecorderHarness.h"

namespace velk::vrec::test {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DiscStore, ASecondProcessSeesTheSessionsOfTheFirstAndAppendsToThem) {
    TempDir dir;
    const std::string path = dir.file("multi.vdisc");
    {
        Harness first(std::nullopt);
        std::string error;
        auto disc = DiscStore::create(path, MediumKind::CdR, 0, &error);
        ASSERT_TRUE(disc) << error;
        first.recorder->insertDisc(std::move(disc));
        ASSERT_TRUE(first.setWriteParameters(0x41, 0xC4).good());
        ASSERT_TRUE(first.write(0, pattern(100, 1)).good());
        ASSERT_TRUE(first.close(2, 0).good());
    }
    Harness second(std::nullopt);
    std::string error;
    ASSERT_TRUE(second.recorder->loadDiscFile(path, &error)) << error;
    const auto info = second.discInfo();
    EXPECT_EQ(info.discStatus, 1);
    EXPECT_EQ(info.sessions, 2u);
    const auto next = second.trackInfo(0xFF);
    EXPECT_EQ(next.nwa, 102u + 11400u);
    EXPECT_EQ(second.read(0, 100), pattern(100, 1));
    ASSERT_TRUE(second.setWriteParameters(0x41, 0x04).good());
    ASSERT_TRUE(second.write(next.nwa, pattern(10, 2)).good());
    ASSERT_TRUE(second.close(2, 0).good());
    second.recorder->removeDisc();

    auto third = DiscStore::open(path, &error);
    ASSERT_TRUE(third) << error;
    EXPECT_TRUE(third->layout().finalized);
    EXPECT_EQ(third->layout().closedSessions, 2u);
}

TEST(DiscStore, BlocksWrittenAfterTheLastSaveNeverBreakTheDiscFile) {
    Harness h(MediumKind::DvdPlusR, 50000);
    ASSERT_TRUE(h.write(0, pattern(32, 1)).good());
    ASSERT_TRUE(h.synchronizeCache().good());
    ASSERT_TRUE(h.write(32, pattern(32, 2)).good());
    // A crash now: another process opens the disc file as it is on disk.
    std::string error;
    auto seen = DiscStore::open(h.discPath(), &error);
    ASSERT_TRUE(seen) << error;
    EXPECT_EQ(seen->layout().tracks.back().nwa, 32u);
    // A half-written layout from an interrupted save is ignored.
    std::ofstream(h.discPath() + ".tmp") << "velk-virtual-disc 1\nmedium dv";
    EXPECT_TRUE(DiscStore::open(h.discPath(), &error)) << error;
}

TEST(DiscStore, LayoutTextRoundTripsAndMalformedFilesAreRefused) {
    DiscLayout d = DiscLayout::fresh(MediumKind::DvdR, 100000);
    d.recordWrite(0, 100, {true, 16});
    ASSERT_FALSE(d.closeSession(true));
    ASSERT_FALSE(d.reserveTrack(50));
    const std::string text = DiscStore::layoutText(d);
    std::string error;
    const auto back = DiscStore::parseLayout(text, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(DiscStore::layoutText(*back), text);
    EXPECT_EQ(back->tracks.size(), 3u);
    EXPECT_TRUE(back->tracks[0].fixedPacket);

    const char* malformed[] = {
        "",
        "some other file\n",
        "velk-virtual-disc 1\nmedium floppy\ncapacity 10\n",
        "velk-virtual-disc 1\nmedium cd-r\n",
        "velk-virtual-disc 1\nmedium cd-r\ncapacity 1000\ntrack 1 1 0 5000 0 0 0 0 0\n",
        "velk-virtual-disc 1\nmedium cd-r\ncapacity 1000\ntrack 1 1 10 5 0 0 0 0 0\n",
        "velk-virtual-disc 1\nmedium cd-r\ncapacity 1000\ncolour blue\n",
    };
    for (const char* m : malformed) {
        EXPECT_FALSE(DiscStore::parseLayout(m, &error)) << m;
    }
}

TEST(DiscStore, TheDataFileIsSparse) {
    TempDir dir;
    std::string error;
    auto disc = DiscStore::create(dir.file("big.vdisc"), MediumKind::DvdPlusRDl, 0, &error);
    ASSERT_TRUE(disc) << error;
    disc->layout().formattedBlocks = 0;
    const auto data = pattern(1, 0);
    ASSERT_TRUE(disc->writeBlocks(4000000, 1, data.data()));
    ASSERT_TRUE(disc->save());
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("big.vdisc.data").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4000001LL * 2048);
    EXPECT_LT(st.st_blocks * 512, 1024 * 1024);  // a few pages on disk, not 8 GB
    std::vector<std::uint8_t> back(2048);
    ASSERT_TRUE(disc->readBlocks(4000000, 1, back.data()));
    EXPECT_EQ(back, data);
    EXPECT_NE(readText(dir.file("big.vdisc")).find("medium dvd+r-dl"), std::string::npos);
}

TEST(DiscLayoutRules, TracksAndSessionsOfSequentialMedia) {
    DiscLayout cd = DiscLayout::fresh(MediumKind::CdR, 0);
    EXPECT_EQ(cd.capacity, 359847u);
    EXPECT_EQ(cd.discStatus(), DiscStatus::Empty);
    // Two tracks in one session (track at once), then the session closed.
    cd.recordWrite(0, 300, {});
    EXPECT_EQ(cd.discStatus(), DiscStatus::Incomplete);
    EXPECT_EQ(cd.lastSessionState(), SessionState::Incomplete);
    ASSERT_FALSE(cd.closeTrack(1));
    const Track* t2 = cd.invisibleTrack();
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->start, 302u + CdPreGapBlocks);
    EXPECT_EQ(cd.checkWrite(302, 1), sense::InvalidAddressForWrite);
    EXPECT_FALSE(cd.checkWrite(t2->start, 1));
    cd.recordWrite(t2->start, 10, {});
    ASSERT_FALSE(cd.closeSession(true));
    EXPECT_EQ(cd.sessionCount(), 2u);
    EXPECT_EQ(cd.track(2)->size, 12u);
    EXPECT_EQ(cd.invisibleTrack()->start, 452u + 12u + CdFirstLeadOutBlocks + CdLeadInBlocks + CdPreGapBlocks);
    // Closing an empty session changes nothing.
    ASSERT_FALSE(cd.closeSession(false));
    EXPECT_FALSE(cd.finalized);

    // A reserved DVD-R track: writes stay inside it, closing pads it.
    DiscLayout dvd = DiscLayout::fresh(MediumKind::DvdR, 100000);
    ASSERT_FALSE(dvd.reserveTrack(100));
    EXPECT_EQ(dvd.track(1)->size, 112u);
    EXPECT_EQ(dvd.track(2)->start, 112u);
    EXPECT_FALSE(dvd.checkWrite(0, 112));
    EXPECT_EQ(dvd.checkWrite(0, 113), sense::InvalidAddressForWrite);
    EXPECT_FALSE(dvd.checkWrite(112, 1));  // the invisible track behind it
    dvd.recordWrite(0, 50, {});
    EXPECT_EQ(dvd.reserveTrack(10), std::nullopt);  // the invisible track may be reserved too
    EXPECT_EQ(dvd.reserveTrack(10), std::nullopt);
    ASSERT_EQ(dvd.invisibleTrack()->start, 144u);
    dvd.recordWrite(144, 1, {});
    EXPECT_EQ(dvd.reserveTrack(10), sense::CommandSequenceError);  // not on a track holding data
    ASSERT_FALSE(dvd.closeTrack(1));
    EXPECT_TRUE(dvd.isReadable(100));  // padded
    EXPECT_FALSE(dvd.isReadable(113));
}

}  // namespace
}  // namespace velk::vrec::test
