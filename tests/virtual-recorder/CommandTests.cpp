// Answers and refusals of single commands: identification, configuration,
// mode pages, capacities, and the CHECK CONDITIONs a real drive gives.

#include "RecorderHarness.h"

namespace velk::vrec::test {
namespace {

std::vector<std::uint8_t> cdb10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
    std::vector<std::uint8_t> c(10, 0);
    c[0] = op;
    putBe32(&c[2], lba);
    putBe16(&c[7], count);
    return c;
}

TEST(Identification, InquiryReportsAConfiguredCdDvdDevice) {
    RecorderOptions options;
    options.vendor = "ACME";
    options.product = "Burner 9000";
    options.revision = "2.5";
    VirtualRecorder recorder(options);
    std::vector<std::uint8_t> data(36, 0);
    ASSERT_TRUE(recorder.run({0x12, 0, 0, 0, 36, 0}, data).good());
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(data[1], 0x80);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 36), "ACME    Burner 9000     2.5 ");
    // Vital product data pages are not offered.
    EXPECT_EQ(recorder.run({0x12, 1, 0x80, 0, 36, 0}, data).sense, sense::InvalidFieldInCdb);
}

struct ProfileCase {
    std::optional<MediumKind> kind;
    std::uint16_t profile;
    bool plusRwCurrent, plusRDlCurrent, minusCurrent;
    std::uint32_t capacity;  // READ FORMAT CAPACITIES by the engine's rule
};

class Profiles : public ::testing::TestWithParam<ProfileCase> {};

// Looks up one feature with RT = 2 and returns (current, byte 4 of the feature).
std::pair<bool, std::uint8_t> feature(Harness& h, std::uint16_t code) {
    CommandResult r;
    const auto d = h.in({0x46, 2, static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code), 0, 0, 0, 0,
                         112, 0},
                        112, &r);
    EXPECT_TRUE(r.good());
    EXPECT_EQ(getBe16(&d[8]), code);
    return {(d[10] & 1) != 0, d[12]};
}

TEST_P(Profiles, CurrentProfileFeaturesAndCapacity) {
    const auto& c = GetParam();
    Harness h(c.kind);
    EXPECT_EQ(h.currentProfile(), c.profile);
    const auto plusRw = feature(h, 0x2A);
    const auto plusRDl = feature(h, 0x3B);
    const auto minus = feature(h, 0x2F);
    EXPECT_EQ(plusRw.first, c.plusRwCurrent);
    EXPECT_EQ(plusRDl.first, c.plusRDlCurrent);
    EXPECT_EQ(minus.first, c.minusCurrent);
    // The drive writes every medium: the write bits are there whatever is loaded.
    EXPECT_EQ(plusRw.second & 1, 1);
    EXPECT_EQ(plusRDl.second & 1, 1);
    EXPECT_EQ(minus.second & 0x02, 0x02);
    if (!c.kind) return;
    CommandResult r;
    const auto d = h.in({0x23, 0, 0, 0, 0, 0, 0, 0, 28, 0}, 28, &r);
    ASSERT_TRUE(r.good());
    std::uint32_t blocks = getBe32(&d[4]);
    for (std::size_t at = 4; at + 8 <= 28; at += 8) {
        if (d[at + 4] == 0 && getBe24(&d[at + 5]) == 2048) {
            blocks = getBe32(&d[at]);
            break;
        }
    }
    EXPECT_EQ(blocks, c.capacity);
}

INSTANTIATE_TEST_SUITE_P(
    Media, Profiles,
    ::testing::Values(ProfileCase{std::nullopt, 0x0000, false, false, false, 0},
                      ProfileCase{MediumKind::CdR, 0x0009, false, false, false, 359847},
                      ProfileCase{MediumKind::CdRw, 0x000A, false, false, false, 359847},
                      ProfileCase{MediumKind::DvdR, 0x0011, false, false, true, 2295104},
                      ProfileCase{MediumKind::DvdRwSequential, 0x0014, false, false, true, 2295104},
                      ProfileCase{MediumKind::DvdRwRestricted, 0x0013, false, false, false, 2295104},
                      ProfileCase{MediumKind::DvdPlusR, 0x001B, false, false, false, 2295104},
                      ProfileCase{MediumKind::DvdPlusRDl, 0x002B, false, true, false, 4173824},
                      ProfileCase{MediumKind::DvdPlusRw, 0x001A, true, false, false, 2295104},
                      ProfileCase{MediumKind::DvdRam, 0x0012, false, false, false, 2236704}));

TEST(Profiles, PressedDiscsComeFromAnImageFile) {
    TempDir dir;
    const std::string image = dir.file("pressed.iso");
    {
        std::FILE* f = std::fopen(image.c_str(), "wb");
        const auto data = pattern(50, 4);
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    for (auto kind : {MediumKind::CdRom, MediumKind::DvdRom}) {
        Harness h(std::nullopt);
        std::string error;
        auto disc = DiscStore::createPressed(dir.file("rom.vdisc"), kind, image, &error);
        ASSERT_TRUE(disc) << error;
        h.recorder->insertDisc(std::move(disc));
        EXPECT_EQ(h.currentProfile(), mediumInfo(kind).profile);
        EXPECT_EQ(h.discInfo().discStatus, 2);
        CommandResult r;
        EXPECT_EQ(h.read(0, 50, &r), pattern(50, 4));
        EXPECT_EQ(h.write(50, pattern(1, 0)).sense, sense::WriteProtected);
    }
}

TEST(ModePages, CapabilitiesReportSpeedsOfTheMediumAndPage30ByConfiguration) {
    Harness dvd(MediumKind::DvdPlusR);
    CommandResult r;
    auto current = dvd.in({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, 128, &r);
    ASSERT_TRUE(r.good());
    ASSERT_EQ(current[8], 0x2A);
    EXPECT_EQ(getBe16(&current[8 + 18]), 22160u);  // 16x DVD
    EXPECT_EQ(getBe16(&current[8 + 12]), 2048u);   // buffer in kB
    EXPECT_NE(current[8 + 4] & 0x80, 0);           // buffer-underrun-free
    // SET CD SPEED to 4x DVD: current write speed follows, the default page does not.
    ASSERT_TRUE(dvd.run({0xBB, 0, 0xFF, 0xFF, 0x15, 0xA4, 0, 0, 0, 0, 0, 0}).good());
    current = dvd.in({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, 128);
    const auto defaults = dvd.in({0x5A, 0, 0xAA, 0, 0, 0, 0, 0, 128, 0}, 128);
    EXPECT_EQ(getBe16(&current[8 + 20]), 5540u);
    EXPECT_EQ(getBe16(&defaults[8 + 20]), 22160u);

    Harness cd(MediumKind::CdRw);
    current = cd.in({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, 128);
    EXPECT_EQ(getBe16(&current[8 + 18]), 4234u);  // 24x CD-RW
    EXPECT_EQ(cd.run({0x5A, 0, 0x30, 0, 0, 0, 0, 0, 128, 0}).sense, sense::InvalidFieldInCdb);

    RecorderOptions options;
    options.modePage30 = true;
    VirtualRecorder with30(options);
    std::vector<std::uint8_t> data(128);
    EXPECT_TRUE(with30.run({0x5A, 0, 0xB0, 0, 0, 0, 0, 0, 128, 0}, data).good());
}

TEST(ModePages, WriteParametersAreKeptAndRefusedWhereTheMediumCannotTakeThem) {
    struct Case {
        MediumKind kind;
        std::uint8_t byte2, byte3, byte4;
        bool accepted;
    };
    const Case cases[] = {
        {MediumKind::CdR, 0x41, 0xC4, 0x08, true},
        {MediumKind::CdR, 0x44, 0x04, 0x08, false},   // layer jump on CD
        {MediumKind::CdR, 0x41, 0x84, 0x08, false},   // multi-session 10b is reserved
        {MediumKind::DvdR, 0x60, 0xE5, 0x08, true},
        {MediumKind::DvdR, 0x41, 0x04, 0x08, false},  // track at once on DVD
        {MediumKind::DvdR, 0x43, 0x04, 0x08, false},  // raw on DVD
        {MediumKind::DvdR, 0x60, 0xE5, 0x0A, false},  // mode 2 blocks on DVD
        {MediumKind::DvdR, 0x70, 0xE5, 0x08, true},   // test write on DVD-R
        {MediumKind::DvdPlusR, 0x72, 0xE4, 0x08, false},  // no test write on DVD+R
        {MediumKind::DvdRam, 0x41, 0x04, 0x08, true},     // ignored on random media
    };
    for (const auto& c : cases) {
        Harness h(c.kind);
        auto page = h.in({0x5A, 0, 0x05, 0, 0, 0, 0, 0, 60, 0}, 60);
        page[8 + 2] = c.byte2;
        page[8 + 3] = c.byte3;
        page[8 + 4] = c.byte4;
        page[0] = page[1] = 0;
        const auto r = h.out({0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, page);
        EXPECT_EQ(r.good(), c.accepted) << mediumInfo(c.kind).name << " " << int(c.byte2);
        if (!c.accepted) {
            EXPECT_EQ(r.sense, sense::InvalidFieldInParameterList);
            continue;
        }
        const auto again = h.in({0x5A, 0, 0x05, 0, 0, 0, 0, 0, 60, 0}, 60);
        EXPECT_EQ(again[8 + 2], c.byte2);
        EXPECT_EQ(again[8 + 3], c.byte3);
    }
}

TEST(Atip, TellsCdRFromCdRwAndIsAbsentOnDvd) {
    for (auto [kind, byte6] : {std::pair{MediumKind::CdR, 0x80}, std::pair{MediumKind::CdRw, 0xC0}}) {
        Harness h(kind);
        CommandResult r;
        const auto atip = h.in({0x43, 2, 4, 0, 0, 0, 0, 0, 30, 0}, 30, &r);
        ASSERT_TRUE(r.good());
        EXPECT_EQ(atip[6], byte6);
        // Last possible lead-out 79:59:74 on an 80-minute disc.
        EXPECT_EQ(atip[12], 79);
        EXPECT_EQ(atip[13], 59);
        EXPECT_EQ(atip[14], 74);
    }
    Harness dvd(MediumKind::DvdR);
    EXPECT_EQ(dvd.run({0x43, 2, 4, 0, 0, 0, 0, 0, 30, 0}).sense, sense::InvalidFieldInCdb);
}

TEST(Refusals, WritesARealDriveRefuses) {
    struct Case {
        const char* what;
        MediumKind kind;
        std::uint32_t capacity;
        int closedSessions;  // -1: none written; 0: finalised; 1: one appendable session
        std::uint32_t lba;
        std::uint32_t blocks;
        Sense expected;
    };
    const Case cases[] = {
        {"off the next writable address", MediumKind::CdR, 0, -1, 16, 1, sense::InvalidAddressForWrite},
        {"behind the next writable address", MediumKind::DvdPlusR, 0, 1, 0, 1, sense::InvalidAddressForWrite},
        {"past the capacity", MediumKind::DvdR, 100, -1, 0, 128, sense::LbaOutOfRange},
        {"past the capacity at the end", MediumKind::CdR, 100, -1, 99, 2, sense::LbaOutOfRange},
        {"on a finalised disc", MediumKind::CdR, 0, 0, 202, 1, sense::InvalidAddressForWrite},
        {"on a finalised DVD+R", MediumKind::DvdPlusR, 0, 0, 16, 1, sense::InvalidAddressForWrite},
        {"on an unformatted DVD+RW", MediumKind::DvdPlusRw, 0, -1, 0, 1, sense::IncompatibleFormat},
        {"beyond a formatted DVD-RAM", MediumKind::DvdRam, 1000, -1, 999, 2, sense::LbaOutOfRange},
    };
    for (const auto& c : cases) {
        Harness h(c.kind, c.capacity);
        if (c.closedSessions >= 0) {
            auto disc = h.recorder->removeDisc();
            ASSERT_FALSE(disc->writeSessionDirect(pattern(200, 0), c.closedSessions == 1));
            h.recorder->insertDisc(std::move(disc));
        }
        if (c.kind == MediumKind::DvdR) {
            ASSERT_TRUE(h.setWriteParameters(0x60, 0xE5, 16, 16).good());
        }
        EXPECT_EQ(h.write(c.lba, pattern(c.blocks, 0)).sense, c.expected) << c.what;
    }
}

TEST(Refusals, BlankOnlyErasesRewritableMedia) {
    for (auto kind : {MediumKind::CdR, MediumKind::DvdR, MediumKind::DvdPlusR, MediumKind::DvdPlusRw,
                      MediumKind::DvdRam}) {
        Harness h(kind);
        EXPECT_EQ(h.run({0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense, sense::InvalidFieldInCdb)
            << mediumInfo(kind).name;
    }
    // A recorded CD-RW is blank again after a minimal BLANK.
    Harness h(MediumKind::CdRw);
    auto disc = h.recorder->removeDisc();
    ASSERT_FALSE(disc->writeSessionDirect(pattern(10, 0), false));
    h.recorder->insertDisc(std::move(disc));
    EXPECT_EQ(h.discInfo().discStatus, 2);
    ASSERT_TRUE(h.run({0xA1, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
    EXPECT_EQ(h.discInfo().discStatus, 0);
    CommandResult r;
    h.read(0, 1, &r);
    EXPECT_EQ(r.sense, sense::LbaOutOfRange);
    // Blanking a DVD-RW in restricted overwrite returns it to sequential recording.
    Harness rw(MediumKind::DvdRwRestricted);
    ASSERT_TRUE(rw.run({0xA1, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
    EXPECT_EQ(rw.currentProfile(), 0x0014);
}

TEST(Refusals, CommandsWithoutADisc) {
    const std::vector<std::vector<std::uint8_t>> needMedium = {
        {0x00, 0, 0, 0, 0, 0},
        {0x01, 0, 0, 0, 0, 0},
        {0x23, 0, 0, 0, 0, 0, 0, 0, 28, 0},
        cdb10(0x28, 0, 1),
        cdb10(0x2A, 0, 1),
        {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0},
        {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0},
        {0x52, 1, 0, 0, 0, 1, 0, 0, 48, 0},
        {0x53, 0, 0, 0, 0, 0, 0, 0, 16, 0},
        {0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0},
        {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    Harness empty(std::nullopt);
    Harness open(MediumKind::CdR);
    ASSERT_TRUE(open.run({0x1B, 0, 0, 0, 0x02, 0}).good());  // eject
    for (const auto& cdb : needMedium) {
        std::vector<std::uint8_t> data(2048, 0);
        const bool noData = cdb[0] == 0x00 || cdb[0] == 0x01 || cdb[0] == 0x35 || cdb[0] == 0x53 ||
                            cdb[0] == 0x5B || cdb[0] == 0xA1;
        const auto dir = cdb[0] == 0x2A ? DataDirection::Out : DataDirection::In;
        auto* buffer = noData ? nullptr : &data;
        EXPECT_EQ(empty.run(cdb, buffer, dir).sense, sense::NoMedium) << std::hex << int(cdb[0]);
        EXPECT_EQ(open.run(cdb, buffer, dir).sense, sense::TrayOpen) << std::hex << int(cdb[0]);
    }
    // What a drive answers without a medium.
    EXPECT_TRUE(empty.run({0x12, 0, 0, 0, 36, 0}).good());
    EXPECT_EQ(empty.currentProfile(), 0);
    EXPECT_TRUE(empty.run({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}).good());
    // Loading the tray makes the disc ready again.
    ASSERT_TRUE(open.run({0x1B, 0, 0, 0, 0x03, 0}).good());
    EXPECT_TRUE(open.testUnitReady().good());
}

TEST(Refusals, InvalidCommandsAndFields) {
    Harness h(MediumKind::CdR);
    EXPECT_EQ(h.run({0xFF, 0, 0, 0, 0, 0}).sense, sense::InvalidOpcode);
    EXPECT_EQ(h.run({0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense, sense::InvalidOpcode);
    EXPECT_EQ(h.run({0x52, 1, 0, 0, 0, 9, 0, 0, 48, 0}).sense, sense::InvalidFieldInCdb);
    EXPECT_EQ(h.run({0x5A, 0, 0x3E, 0, 0, 0, 0, 0, 128, 0}).sense, sense::InvalidFieldInCdb);
    EXPECT_EQ(h.run({0x5A, 0, 0xC5, 0, 0, 0, 0, 0, 128, 0}).sense, sense::SavingNotSupported);
    EXPECT_EQ(h.close(6, 0).sense, sense::InvalidFieldInCdb);  // finalise is DVD+R only
    CommandResult r;
    h.read(400000, 1, &r);
    EXPECT_EQ(r.sense, sense::LbaOutOfRange);
    h.read(0, 1, &r);
    EXPECT_EQ(r.sense, sense::LbaOutOfRange);  // nothing recorded yet
    Harness plusRw(MediumKind::DvdPlusRw);
    auto list = dvdPlusRwFullFormat();
    list[8] = 0x00;  // format type 00h is DVD-RAM's
    EXPECT_EQ(plusRw.formatUnit(list).sense, sense::InvalidFieldInParameterList);
    // Removal prevented: no eject.
    ASSERT_TRUE(h.run({0x1E, 0, 0, 0, 1, 0}).good());
    EXPECT_EQ(h.run({0x1B, 0, 0, 0, 0x02, 0}).sense, sense::RemovalPrevented);
    ASSERT_TRUE(h.run({0x1E, 0, 0, 0, 0, 0}).good());
    EXPECT_TRUE(h.run({0x1B, 0, 0, 0, 0x02, 0}).good());
}

TEST(Formatting, DvdPlusRwIsBlankUntilFormattedAndRandomAccessAfter) {
    Harness h(MediumKind::DvdPlusRw, 50000);
    EXPECT_EQ(h.discInfo().discStatus, 0);
    EXPECT_EQ(h.trackInfo(1).size, 50000u);
    ASSERT_TRUE(h.formatUnit(dvdPlusRwFullFormat()).good());  // 2,295,104 blocks asked: the whole medium
    for (int i = 0; i < 1000 && !h.testUnitReady().good(); ++i) {
    }
    const auto info = h.discInfo();
    EXPECT_EQ(info.discStatus, 2);
    EXPECT_EQ(info.byte7 & 3, 3);  // background format complete
    EXPECT_TRUE(h.write(40000, pattern(32, 1)).good());
    EXPECT_TRUE(h.write(100, pattern(32, 2)).good());
    EXPECT_TRUE(h.write(100, pattern(32, 3)).good());
    EXPECT_EQ(h.read(100, 32), pattern(32, 3));
    EXPECT_EQ(h.read(0, 1), std::vector<std::uint8_t>(2048, 0));
    EXPECT_EQ(h.write(49990, pattern(32, 0)).sense, sense::LbaOutOfRange);
}

TEST(Formatting, DvdRamFullFormatClearsTheDisc) {
    Harness h(MediumKind::DvdRam, 20000);
    ASSERT_TRUE(h.write(0, pattern(32, 5)).good());
    ASSERT_TRUE(h.formatUnit(dvdRamFullFormat()).good());
    for (int i = 0; i < 100000 && !h.testUnitReady().good(); ++i) {
    }
    EXPECT_EQ(h.read(0, 1), std::vector<std::uint8_t>(2048, 0));
    EXPECT_EQ(h.discInfo().discStatus, 3);
}

TEST(Timing, ImmedOperationsLeaveTheDriveNotReadyForAWhile) {
    struct Case {
        MediumKind kind;
        std::vector<std::uint8_t> cdb;
        std::vector<std::uint8_t> list;
        Sense whileRunning;
        double seconds;
    };
    const Case cases[] = {
        {MediumKind::CdRw, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, sense::OperationInProgress,
         MinimalBlankSeconds},
        {MediumKind::DvdPlusRw, {0x04, 0x11, 0, 0, 0, 0}, dvdPlusRwFullFormat(), sense::FormatInProgress,
         BackgroundFormatSeconds},
        {MediumKind::DvdRwSequential, {0x04, 0x11, 0, 0, 0, 0}, dvdRwQuickFormat(), sense::FormatInProgress,
         QuickFormatSeconds},
    };
    for (const auto& c : cases) {
        Harness h(ManualClock{}, c.kind);
        auto list = c.list;
        const auto r = list.empty() ? h.run(c.cdb) : h.run(c.cdb, &list, DataDirection::Out);
        ASSERT_TRUE(r.good()) << formatSense(r.sense);
        EXPECT_EQ(h.testUnitReady().sense, c.whileRunning);
        // READ DISC INFORMATION, as the engine polls it, is not ready either;
        // INQUIRY and GET CONFIGURATION still answer.
        EXPECT_EQ(h.run({0x51, 0, 0, 0, 0, 0, 0, 0, 42, 0}).sense, c.whileRunning);
        EXPECT_TRUE(h.run({0x12, 0, 0, 0, 36, 0}).good());
        EXPECT_TRUE(h.run({0x46, 2, 0, 0, 0, 0, 0, 0, 16, 0}).good());
        // REQUEST SENSE reports progress: none yet, half-way after half the time.
        auto s = h.in({0x03, 0, 0, 0, 18, 0}, 18);
        EXPECT_EQ(s[12], 0x04);
        EXPECT_EQ(s[15], 0x80);
        EXPECT_EQ(getBe16(&s[16]), 0u);
        h.pause(c.seconds / 2);
        s = h.in({0x03, 0, 0, 0, 18, 0}, 18);
        EXPECT_NEAR(getBe16(&s[16]), 0x8000, 2);
        h.pause(c.seconds / 2 - 0.25);
        EXPECT_EQ(h.testUnitReady().sense, c.whileRunning);
        h.pause(0.25);
        EXPECT_TRUE(h.testUnitReady().good());
    }
}

TEST(Timing, SynchronizeCacheWithImmedReportsALongWriteWhileTheBufferDrains) {
    Harness h(ManualClock{}, MediumKind::CdR);
    ASSERT_TRUE(h.run({0xBB, 0, 0xFF, 0xFF, 0x02, 0xC2, 0, 0, 0, 0, 0, 0}).good());  // 4x
    ASSERT_TRUE(h.write(0, pattern(32, 0)).good());
    ASSERT_TRUE(h.synchronizeCache(true).good());
    EXPECT_EQ(h.write(32, pattern(32, 0)).sense, sense::LongWriteInProgress);
    EXPECT_EQ(h.testUnitReady().sense, sense::LongWriteInProgress);
    // 64 KiB at 4x take about 0.11 s to reach the medium.
    h.pause(0.1);
    EXPECT_EQ(h.testUnitReady().sense, sense::LongWriteInProgress);
    h.pause(0.01);
    EXPECT_TRUE(h.testUnitReady().good());
}

}  // namespace
}  // namespace velk::vrec::test
