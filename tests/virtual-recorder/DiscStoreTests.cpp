// Disc files: the layout on disk, what a second process sees, crash safety.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
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
    std::ofstream(h.discPath() + ".tmp") << "velk-virtual-disc 2\nmedium dv";
    EXPECT_TRUE(DiscStore::open(h.discPath(), &error)) << error;
}

TEST(DiscStore, LayoutTextRoundTrips) {
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
}

// A DVD-R with a closed session, a reserved track and the invisible track
// behind it, as its disc file holds it.
std::string sampleLayoutText() {
    DiscLayout d = DiscLayout::fresh(MediumKind::DvdR, 100000);
    d.recordWrite(0, 100, {});
    EXPECT_FALSE(d.closeSession(true));
    EXPECT_FALSE(d.reserveTrack(50));
    d.underruns = 2;
    return DiscStore::layoutText(d);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The text with its line that starts with `prefix` replaced by `line`.
std::string replacedLine(std::string text, const std::string& prefix, const std::string& line) {
    const auto at = text.find("\n" + prefix);
    EXPECT_NE(at, std::string::npos) << prefix;
    if (at == std::string::npos) return text;
    const auto end = text.find('\n', at + 1);
    text.replace(at + 1, end - at - 1, line);
    return text;
}

TEST(DiscFiles, EveryCutOfALayoutFileIsRefused) {
    const std::string text = sampleLayoutText();
    ASSERT_EQ(text.substr(text.size() - 5), "\nend\n");
    // Every cut, at a line end or in the middle of a line, is refused; only
    // the final newline may be missing.
    for (std::size_t size = 0; size + 1 < text.size(); ++size) {
        std::string error;
        EXPECT_FALSE(DiscStore::parseLayout(text.substr(0, size), &error)) << size << ":\n" << text.substr(0, size);
    }
    std::string error;
    EXPECT_TRUE(DiscStore::parseLayout(text.substr(0, text.size() - 1), &error)) << error;
    EXPECT_FALSE(DiscStore::parseLayout(replaced(text, "end\n", ""), &error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;
}

TEST(DiscFiles, MalformedAndImpossibleLayoutsAreRefusedWithTheReason) {
    const std::string text = sampleLayoutText();
    struct Case {
        const char* what;
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"no magic line", replaced(text, "velk-virtual-disc 2", "some other file"), "not a virtual disc file"},
        {"the first format", replaced(text, "velk-virtual-disc 2", "velk-virtual-disc 1"), "an earlier format"},
        {"empty file", "", "not a virtual disc file"},
        {"negative capacity", replaced(text, "capacity 100000", "capacity -1"), "line 3 is malformed"},
        {"capacity beyond 32 bits", replaced(text, "capacity 100000", "capacity 4294967296"), "malformed"},
        {"capacity with a sign", replaced(text, "capacity 100000", "capacity +100000"), "malformed"},
        {"capacity with a unit", replaced(text, "capacity 100000", "capacity 100000 blocks"), "malformed"},
        {"capacity 0", replaced(text, "capacity 100000", "capacity 0"), "the capacity is 0"},
        {"unknown medium", replaced(text, "medium dvd-r", "medium floppy"), "malformed"},
        {"a flag of 2", replaced(text, "finalized 0", "finalized 2"), "malformed"},
        {"tray ajar", replaced(text, "tray closed", "tray ajar"), "malformed"},
        {"a negative track field", replaced(text, "track 2 2 ", "track 2 -2 "), "malformed"},
        {"a short track line", replaced(text, "track 1 1 0 112 112 0 1 0 0", "track 1 1 0 112 112 0 1"), "malformed"},
        {"unknown key", replaced(text, "underruns 2", "underruns 2\ncolour blue"), "malformed"},
        {"a key twice", replaced(text, "underruns 2", "underruns 2\nunderruns 3"), "repeats \"underruns\""},
        {"a key missing", replaced(text, "closed-sessions 1\n", ""), "no \"closed-sessions\" line"},
        {"text after the end", text + "track 4 2 300 300 0 0 0 0 0\n", "follows the end line"},
        {"formatted beyond capacity", replaced(text, "formatted 0", "formatted 100001"), "more blocks formatted"},
        {"image on a writable disc", replaced(text, "underruns 2", "underruns 2\nimage /tmp/x.iso"),
         "only a pressed disc"},
        {"next block before start", replaced(text, "track 1 1 0 112", "track 1 1 200 112"), "before its start"},
        {"track beyond capacity", replaced(text, "track 1 1 0 112 112", "track 1 1 0 112 200000"),
         "beyond the disc's capacity"},
        {"tracks overlapping", replacedLine(text, "track 2 ", "track 2 2 50 50 64 1 0 0 0"), "overlaps"},
        {"tracks out of order", replaced(text, "track 2 2 ", "track 7 2 "), "out of order"},
        {"more sessions closed than held", replaced(text, "closed-sessions 1", "closed-sessions 5"),
         "more sessions closed"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(DiscStore::parseLayout(c.text, &error)) << c.what << ":\n" << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

// Bytes and inode of a file: a rewrite through a temporary file and a rename
// changes the inode even when the bytes come out the same.
struct FileIdentity {
    std::string bytes;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {readText(path), st.st_ino};
}

TEST(DiscFiles, ARefusedDiscFileIsLeftAsItIsAndTheErrorNamesIt) {
    TempDir dir;
    const std::string path = dir.file("broken.vdisc");
    std::string error;
    ASSERT_TRUE(DiscStore::create(path, MediumKind::DvdR, 100000, &error)) << error;
    std::ofstream(path, std::ios::trunc) << replaced(sampleLayoutText(), "capacity 100000", "capacity -1");
    const FileIdentity before = identityOf(path);
    EXPECT_FALSE(DiscStore::open(path, &error));
    EXPECT_EQ(error, path + ": line 3 is malformed: \"capacity -1\"");
    {
        Harness drive(std::nullopt);
        EXPECT_FALSE(drive.recorder->loadDiscFile(path, &error));
        EXPECT_FALSE(drive.recorder->hasDisc());
    }
    EXPECT_EQ(identityOf(path), before);

    // A disc whose data file is gone has lost its blocks: refused, not
    // given an empty data file.
    const std::string lost = dir.file("lost.vdisc");
    ASSERT_TRUE(DiscStore::create(lost, MediumKind::CdR, 0, &error)) << error;
    ASSERT_EQ(std::remove((lost + ".data").c_str()), 0);
    EXPECT_FALSE(DiscStore::open(lost, &error));
    EXPECT_NE(error.find(lost + ".data: No such file or directory"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(lost + ".data"));

    const std::string folder = dir.file("folder.vdisc");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(DiscStore::open(folder, &error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
}

TEST(DiscFiles, ADiscThatMayOnlyBeReadCanBeLookedAt) {
    if (::geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
    Harness h(MediumKind::DvdPlusR, 5000);
    auto disc = h.recorder->removeDisc();
    ASSERT_FALSE(disc->writeSessionDirect(pattern(4, 1), false));
    disc.reset();
    ::chmod(h.discPath().c_str(), 0444);
    ::chmod((h.discPath() + ".data").c_str(), 0444);
    std::string error;
    auto readOnly = DiscStore::open(h.discPath(), &error);
    ASSERT_TRUE(readOnly) << error;
    std::vector<std::uint8_t> back(4 * 2048);
    ASSERT_TRUE(readOnly->readBlocks(0, 4, back.data()));
    EXPECT_EQ(back, pattern(4, 1));
    EXPECT_FALSE(readOnly->writeBlocks(10, 1, back.data()));
}

// Commands that only look at a disc leave its file as it was, down to the
// inode; a command that changes the disc replaces the file whole.
TEST(DiscFiles, LookingAtADiscNeverRewritesItsFile) {
    TempDir dir;
    const std::string path = dir.file("looked-at.vdisc");
    std::string error;
    {
        auto disc = DiscStore::create(path, MediumKind::DvdPlusR, 50000, &error);
        ASSERT_TRUE(disc) << error;
        ASSERT_FALSE(disc->writeSessionDirect(pattern(20, 4), true));
    }
    const FileIdentity before = identityOf(path);
    {
        Harness h(std::nullopt);
        ASSERT_TRUE(h.recorder->loadDiscFile(path, &error)) << error;
        EXPECT_TRUE(h.testUnitReady().good());
        EXPECT_TRUE(h.run({0x12, 0, 0, 0, 36, 0}).good());
        EXPECT_EQ(h.discInfo().discStatus, 1);
        h.trackInfo(1);
        h.currentProfile();
        EXPECT_TRUE(h.run({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}).good());
        EXPECT_EQ(h.read(0, 20), pattern(20, 4));
        EXPECT_TRUE(h.synchronizeCache().good());
        EXPECT_TRUE(h.recorder->saveDisc(&error)) << error;
    }
    EXPECT_EQ(identityOf(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    {
        Harness h(std::nullopt);
        ASSERT_TRUE(h.recorder->loadDiscFile(path, &error)) << error;
        ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x02, 0}).good());  // eject
    }
    const FileIdentity after = identityOf(path);
    EXPECT_NE(after.inode, before.inode);
    EXPECT_NE(after.bytes.find("tray open\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(DiscFiles, TheTrayStaysOpenUntilALoad) {
    Harness setup(MediumKind::CdRw);
    const std::string path = setup.discPath();
    ASSERT_TRUE(setup.run({0x1B, 0, 0, 0, 0x02, 0}).good());  // eject
    setup.recorder->removeDisc();
    std::string error;
    for (int program = 0; program < 2; ++program) {
        Harness h(std::nullopt);
        ASSERT_TRUE(h.recorder->loadDiscFile(path, &error)) << error;
        EXPECT_TRUE(h.recorder->trayOpen()) << program;
        EXPECT_EQ(h.testUnitReady().sense, sense::TrayOpen) << program;
    }
    {
        Harness h(std::nullopt);
        ASSERT_TRUE(h.recorder->loadDiscFile(path, &error)) << error;
        ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x03, 0}).good());  // load
        EXPECT_TRUE(h.testUnitReady().good());
    }
    Harness next(std::nullopt);
    ASSERT_TRUE(next.recorder->loadDiscFile(path, &error)) << error;
    EXPECT_FALSE(next.recorder->trayOpen());
    EXPECT_TRUE(next.testUnitReady().good());
    // The recorder's own tray calls keep the state in the file too.
    next.recorder->openTray();
    EXPECT_TRUE(DiscStore::open(path, &error)->layout().trayOpen);
    next.recorder->closeTray();
    EXPECT_FALSE(DiscStore::open(path, &error)->layout().trayOpen);
}

TEST(DiscFiles, APressedDiscKeepsTheAbsolutePathOfItsImage) {
    TempDir dir;
    std::ofstream(dir.file("pressed.iso"), std::ios::binary) << std::string(10 * 2048, 'x');
    const std::string relative = std::filesystem::relative(dir.file("pressed.iso")).string();
    ASSERT_NE(relative.front(), '/');
    std::string error;
    ASSERT_TRUE(DiscStore::createPressed(dir.file("rom.vdisc"), MediumKind::DvdRom, relative, &error)) << error;
    auto disc = DiscStore::open(dir.file("rom.vdisc"), &error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->layout().imagePath, std::filesystem::weakly_canonical(dir.file("pressed.iso")).string());
    EXPECT_EQ(disc->layout().capacity, 10u);
    EXPECT_FALSE(DiscStore::createPressed(dir.file("rom2.vdisc"), MediumKind::DvdRom, dir.path().string(), &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    std::ofstream(dir.file("two\nlines.iso"), std::ios::binary) << std::string(2048, 'x');
    EXPECT_FALSE(DiscStore::createPressed(dir.file("rom3.vdisc"), MediumKind::DvdRom, dir.file("two\nlines.iso"), &error));
    EXPECT_NE(error.find("line break"), std::string::npos) << error;
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
