// The command sequences a burning program sends, per writable medium, and
// what the disc reports before and after; second sessions on write-once media.
#include <fstream>
#include <iterator>

#include "RecorderHarness.h"
#include "virtual-recorder/DiscExport.h"

namespace velk::vrec::test {
namespace {

enum class Prep { None, FormatPlusRw, QuickFormatRw, GrowFormatRw };
enum class Closing { CdSession, DvdMinusReserved, PlusRSession, PlusRFinalise, DvdRw, PlusRw, None };

struct BurnCase {
    const char* name;
    MediumKind kind;
    Prep prep;
    std::uint8_t page2, page3;
    std::uint32_t packet;
    std::uint8_t link;
    Closing closing;
    std::uint16_t profileAfter;
    std::uint8_t statusBefore, statusAfter;
    bool appendableAfter;  // another session can follow
};

const BurnCase kBurnCases[] = {
    {"CdR", MediumKind::CdR, Prep::None, 0x41, 0xC4, 0, 0, Closing::CdSession, 0x09, 0, 1, true},
    {"CdRw", MediumKind::CdRw, Prep::None, 0x41, 0x04, 0, 0, Closing::CdSession, 0x0A, 0, 2, false},
    {"DvdR", MediumKind::DvdR, Prep::None, 0x60, 0xE5, 16, 16, Closing::DvdMinusReserved, 0x11, 0, 1, true},
    {"DvdRwSequential", MediumKind::DvdRwSequential, Prep::QuickFormatRw, 0x60, 0xC5, 16, 16, Closing::DvdRw, 0x13, 0, 2,
     false},
    {"DvdRwRestricted", MediumKind::DvdRwRestricted, Prep::GrowFormatRw, 0x60, 0xC5, 16, 16, Closing::DvdRw, 0x13, 2, 2,
     false},
    {"DvdPlusR", MediumKind::DvdPlusR, Prep::None, 0x62, 0xE4, 16, 16, Closing::PlusRSession, 0x1B, 0, 1, true},
    // The engine's dual-layer page carries no BUFE: the drive links losslessly.
    {"DvdPlusRDl", MediumKind::DvdPlusRDl, Prep::None, 0x22, 0x04, 0, 0, Closing::PlusRFinalise, 0x2B, 0, 2, false},
    {"DvdPlusRw", MediumKind::DvdPlusRw, Prep::FormatPlusRw, 0x62, 0xC4, 0, 16, Closing::PlusRw, 0x1A, 0, 2, false},
    {"DvdRam", MediumKind::DvdRam, Prep::None, 0x41, 0x04, 0, 0, Closing::None, 0x12, 3, 3, false},
};

class BurnSequence : public ::testing::TestWithParam<BurnCase> {};

// Writes `data` the way the engine's writer does and closes per medium.
void burn(Harness& h, const BurnCase& c, const std::vector<std::uint8_t>& data, std::uint32_t completeSessions) {
    const auto blocks = static_cast<std::uint32_t>(data.size() / 2048);
    switch (c.prep) {
    case Prep::FormatPlusRw:
        ASSERT_TRUE(h.formatUnit(dvdPlusRwFullFormat()).good());
        break;
    case Prep::QuickFormatRw:
        ASSERT_TRUE(h.formatUnit(dvdRwQuickFormat()).good());
        break;
    case Prep::GrowFormatRw:
        ASSERT_TRUE(h.formatUnit(dvdRwGrowFormat()).good());
        break;
    case Prep::None:
        break;
    }
    // Format with Immed: wait until the drive is ready again.
    for (int i = 0; i < 1000 && !h.testUnitReady().good(); ++i) {
    }
    ASSERT_TRUE(h.testUnitReady().good());
    ASSERT_TRUE(h.setWriteParameters(c.page2, c.page3, c.packet, c.link).good());
    ASSERT_TRUE(h.run({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}).good());

    std::uint32_t lba = 0;
    if (h.recorder->discLayout()->sequential() || c.kind == MediumKind::DvdRwSequential) {
        const auto info = h.discInfo();
        const auto track = h.trackInfo(info.lastTrackInLastSession);
        ASSERT_TRUE(track.nwaValid);
        lba = track.nwa;
    }
    if (c.closing == Closing::DvdMinusReserved) {
        std::vector<std::uint8_t> stamp(22, 0);
        stamp[1] = 0x14;
        ASSERT_TRUE(h.out({0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, stamp).good());
        std::vector<std::uint8_t> reserve{0x53, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        putBe32(&reserve[5], blocks);
        ASSERT_TRUE(h.run(reserve).good());
    }
    for (std::uint32_t done = 0; done < blocks; done += 32) {
        const std::uint32_t n = std::min<std::uint32_t>(32, blocks - done);
        std::vector<std::uint8_t> chunk(data.begin() + std::ptrdiff_t{done} * 2048,
                                        data.begin() + std::ptrdiff_t{done + n} * 2048);
        const auto r = h.write(lba + done, chunk);
        ASSERT_TRUE(r.good()) << "block " << lba + done << ": " << formatSense(r.sense);
    }
    const std::uint32_t n = completeSessions;
    switch (c.closing) {
    case Closing::CdSession:
        ASSERT_TRUE(h.synchronizeCache(true).good());
        while (!h.testUnitReady().good()) {
        }
        ASSERT_TRUE(h.close(2, 0, true).good());
        break;
    case Closing::DvdMinusReserved:
        ASSERT_TRUE(h.synchronizeCache().good());
        ASSERT_TRUE(h.close(1, static_cast<std::uint16_t>(n + 1)).good());
        EXPECT_TRUE(h.close(1, static_cast<std::uint16_t>(n + 2)).good());
        ASSERT_TRUE(h.close(2, static_cast<std::uint16_t>(n + 3)).good());
        break;
    case Closing::PlusRSession:
        ASSERT_TRUE(h.synchronizeCache().good());
        ASSERT_TRUE(h.close(1, static_cast<std::uint16_t>(n + 1)).good());
        ASSERT_TRUE(h.close(2, 0xFF).good());
        break;
    case Closing::PlusRFinalise:
        ASSERT_TRUE(h.synchronizeCache().good());
        ASSERT_TRUE(h.close(1, static_cast<std::uint16_t>(n + 1)).good());
        ASSERT_TRUE(h.close(6, 0).good());
        break;
    case Closing::DvdRw:
        ASSERT_TRUE(h.synchronizeCache().good());
        ASSERT_TRUE(h.close(1, 1).good());
        ASSERT_TRUE(h.close(2, 0, true).good());
        break;
    case Closing::PlusRw:
        ASSERT_TRUE(h.synchronizeCache().good());
        ASSERT_TRUE(h.close(3, 0xFF).good());
        break;
    case Closing::None:
        ASSERT_TRUE(h.synchronizeCache().good());
        break;
    }
    for (int i = 0; i < 1000 && !h.testUnitReady().good(); ++i) {
    }
}

TEST_P(BurnSequence, RecordsTheDataAndReportsTheClosedDisc) {
    const BurnCase& c = GetParam();
    Harness h(c.kind, 100000);
    const auto before = h.discInfo();
    EXPECT_EQ(before.discStatus, c.statusBefore);
    EXPECT_EQ(before.erasable, mediumInfo(c.kind).rewritable);
    const auto trackBefore = h.trackInfo(1);
    EXPECT_EQ(trackBefore.start, 0u);
    if (mediumInfo(c.kind).recording == Recording::Sequential) {
        EXPECT_TRUE(trackBefore.blank());
        EXPECT_EQ(trackBefore.freeBlocks, 100000u);
        EXPECT_EQ(before.sessions, 1u);
        EXPECT_EQ(before.lastSessionState, 0);
    }

    const auto data = pattern(200, 3);
    burn(h, c, data, 0);
    if (HasFatalFailure()) return;

    EXPECT_EQ(h.currentProfile(), c.profileAfter);
    const auto after = h.discInfo();
    EXPECT_EQ(after.discStatus, c.statusAfter);
    CommandResult r;
    EXPECT_EQ(h.read(0, 200, &r), data);
    EXPECT_TRUE(r.good()) << formatSense(r.sense);

    const auto track1 = h.trackInfo(1);
    EXPECT_EQ(track1.start, 0u);
    if (mediumInfo(c.kind).recording == Recording::Sequential && c.prep == Prep::None) {
        EXPECT_FALSE(track1.blank());
        EXPECT_FALSE(track1.nwaValid);
        EXPECT_EQ(track1.freeBlocks, 0u);
        // CD track-at-once keeps two run-out blocks; DVD pads to 16-block units.
        EXPECT_EQ(track1.size, mediumInfo(c.kind).cd ? 202u : 208u);
        EXPECT_EQ(track1.fixedPacket(), c.kind == MediumKind::DvdR);
        EXPECT_EQ(after.sessions, c.appendableAfter ? 2u : 1u);
        EXPECT_EQ(after.lastSessionState, c.appendableAfter ? 0 : 3);
    } else {
        EXPECT_EQ(track1.size, 100000u);
    }

    // The disc file holds what a reader of the disc sees.
    auto disc = h.recorder->removeDisc();
    const std::string image = h.dir.file("export.iso");
    std::string error;
    ASSERT_TRUE(exportImage(*disc, 0, image, &error)) << error;
    std::ifstream in(image, std::ios::binary);
    std::vector<std::uint8_t> exported((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(exported.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), exported.begin()));
}

INSTANTIATE_TEST_SUITE_P(WritableMedia, BurnSequence, ::testing::ValuesIn(kBurnCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Second sessions on write-once media, as real drives report them.
struct SecondSessionCase {
    const char* name;
    MediumKind kind;
    std::uint32_t track1Size;    // as closed
    std::uint32_t track2Start;   // first block of the second session
};

const SecondSessionCase kSecondSessionCases[] = {
    // 200 blocks + 2 run-out; lead-out 6750, lead-in 4500, pre-gap 150.
    {"CdR", MediumKind::CdR, 202, 202 + 11400},
    {"DvdR", MediumKind::DvdR, 208, 208 + DvdMinusFirstBorderBlocks},
    {"DvdPlusR", MediumKind::DvdPlusR, 208, 208 + DvdPlusSessionGapBlocks},
};

class SecondSession : public ::testing::TestWithParam<SecondSessionCase> {};

TEST_P(SecondSession, IsReportedByDiscTrackAndTocInformation) {
    const auto& sc = GetParam();
    const BurnCase* c = nullptr;
    for (const auto& bc : kBurnCases) {
        if (bc.kind == sc.kind) c = &bc;
    }
    ASSERT_NE(c, nullptr);
    Harness h(sc.kind, 100000);
    const auto first = pattern(200, 1);
    const auto second = pattern(100, 9);
    burn(h, *c, first, 0);
    if (HasFatalFailure()) return;

    // The next writable address is the start of the second session.
    const auto open = h.discInfo();
    EXPECT_EQ(open.sessions, 2u);
    EXPECT_EQ(open.lastTrackInLastSession, 2u);
    const auto invisible = h.trackInfo(0xFF);
    EXPECT_EQ(invisible.number, 2u);
    EXPECT_EQ(invisible.session, 2u);
    EXPECT_EQ(invisible.nwa, sc.track2Start);

    burn(h, *c, second, 1);
    if (HasFatalFailure()) return;

    const auto info = h.discInfo();
    EXPECT_EQ(info.discStatus, 1);
    EXPECT_EQ(info.sessions, 3u);  // two complete sessions and the empty third
    EXPECT_EQ(info.firstTrackInLastSession, 3u);
    const auto t1 = h.trackInfo(1);
    const auto t2 = h.trackInfo(2);
    EXPECT_EQ(t1.size, sc.track1Size);
    EXPECT_EQ(t2.session, 2u);
    EXPECT_EQ(t2.start, sc.track2Start);
    CommandResult r;
    EXPECT_EQ(h.read(sc.track2Start, 100, &r), second);

    // TOC format 0: tracks 1 and 2, lead-out after track 2.
    const auto toc = h.in({0x43, 0, 0, 0, 0, 0, 0, 0, 100, 0}, 100, &r);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(getBe16(&toc[0]), 2u + 3 * 8);
    EXPECT_EQ(toc[2], 1);
    EXPECT_EQ(toc[3], 2);
    EXPECT_EQ(toc[4 + 2], 1);
    EXPECT_EQ(getBe32(&toc[4 + 4]), 0u);
    EXPECT_EQ(toc[12 + 2], 2);
    EXPECT_EQ(getBe32(&toc[12 + 4]), sc.track2Start);
    EXPECT_EQ(toc[20 + 2], 0xAA);
    EXPECT_EQ(getBe32(&toc[20 + 4]), t2.start + t2.size);
    // TOC format 1: the last complete session and its first track.
    const auto session = h.in({0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0}, 12, &r);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(session[2], 1);
    EXPECT_EQ(session[3], 2);
    EXPECT_EQ(session[4 + 2], 2);
    EXPECT_EQ(getBe32(&session[4 + 4]), sc.track2Start);
    // In MSF form (CD addressing with the 2-second offset).
    const auto msf = h.in({0x43, 2, 1, 0, 0, 0, 0, 0, 12, 0}, 12, &r);
    const Msf expected = lbaToMsf(sc.track2Start);
    EXPECT_EQ(msf[9], expected.minute);
    EXPECT_EQ(msf[10], expected.second);
    EXPECT_EQ(msf[11], expected.frame);

    // Export of session 1 ends where session 1 ends.
    auto disc = h.recorder->removeDisc();
    EXPECT_EQ(exportBlockCount(disc->layout(), 1), 200u + (mediumInfo(sc.kind).cd ? 0u : 8u));
    EXPECT_EQ(exportBlockCount(disc->layout(), 2), sc.track2Start + (mediumInfo(sc.kind).cd ? 100u : 112u));
    // The last session's export ends with it, not with the empty third one
    // behind the run-out; alone it starts where the session does.
    EXPECT_EQ(exportBlockCount(disc->layout(), 0), exportBlockCount(disc->layout(), 2));
    EXPECT_EQ(sessionStart(disc->layout(), 1), 0u);
    EXPECT_EQ(sessionStart(disc->layout(), 2), sc.track2Start);
    EXPECT_EQ(sessionStart(disc->layout(), 0), sc.track2Start);
    EXPECT_EQ(exportBlockCount(disc->layout(), 2, ExportExtent::SessionOnly),
              mediumInfo(sc.kind).cd ? 100u : 112u);
}

INSTANTIATE_TEST_SUITE_P(WriteOnceMedia, SecondSession, ::testing::ValuesIn(kSecondSessionCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::vrec::test

namespace velk::vrec::test {
namespace {

// SQLite-style: fail the Nth command of a burn for every N; the recorder
// keeps going and the disc file always reopens with a consistent layout.
TEST(FaultAlongABurn, EveryFailedCommandLeavesAReadableDiscFile) {
    const auto data = pattern(100, 2);
    auto sequence = [&](Harness& h) {
        h.run({0x46, 2, 0, 0, 0, 0, 0, 0, 112, 0});
        h.setWriteParameters(0x60, 0xE5, 16, 16);
        h.in({0x51, 0, 0, 0, 0, 0, 0, 0, 66, 0}, 66);
        const auto track = h.trackInfo(1);
        std::vector<std::uint8_t> reserve{0x53, 0, 0, 0, 0, 0, 0, 0, 100, 0};
        h.run(reserve);
        for (std::uint32_t done = 0; done < 100; done += 32) {
            const std::uint32_t n = std::min<std::uint32_t>(32, 100 - done);
            h.write(track.start + done, std::vector<std::uint8_t>(data.begin() + std::ptrdiff_t{done} * 2048,
                                                                  data.begin() + std::ptrdiff_t{done + n} * 2048));
        }
        h.synchronizeCache();
        h.close(1, 1);
        h.close(1, 2);
        h.close(2, 3);
        h.run({0x1B, 0, 0, 0, 3, 0});
        h.testUnitReady();
    };
    std::size_t commands = 0;
    {
        Harness h(MediumKind::DvdR, 50000);
        sequence(h);
        commands = h.recorder->journal().size();
        ASSERT_GT(commands, 10u);
    }
    for (std::size_t n = 1; n <= commands; ++n) {
        Harness h(MediumKind::DvdR, 50000);
        h.recorder->faults().failNthCommand(n, sense::WriteError);
        sequence(h);
        const auto entries = h.recorder->journal().entries();
        ASSERT_GE(entries.size(), n);
        EXPECT_EQ(entries[n - 1].sense, sense::WriteError) << "command " << n;
        h.recorder->removeDisc();
        std::string error;
        auto reopened = DiscStore::open(h.discPath(), &error);
        ASSERT_TRUE(reopened) << "command " << n << ": " << error;
        for (const auto& t : reopened->layout().tracks) {
            EXPECT_LE(t.nwa, 50000u);
            EXPECT_GE(t.nwa, t.start);
        }
    }
}

}  // namespace
}  // namespace velk::vrec::test
