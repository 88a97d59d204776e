// What makes the recorder strict, as real MMC drives are: write parameters
// checked when the data arrives, test writes that record nothing, the close
// functions of each medium, the DVD-RW after a minimal blank, malformed
// requests, busy drives and buffer underruns.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "RecorderHarness.h"
#include "engine/core/EngineTypes.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderDevice.h"
#include "virtual-recorder/AspiPlugin.h"
#include "virtual-recorder/DriveTiming.h"

namespace velk::vrec::test {
namespace {

using Expect = std::optional<Sense>;

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Puts a new blank disc of `kind` in the drive; the write parameters stay.
void changeDisc(Harness& h, MediumKind kind, std::uint32_t capacity = 100000) {
    std::string error;
    auto disc = DiscStore::create(h.dir.file("changed.vdisc"), kind, capacity, &error);
    ASSERT_TRUE(disc) << error;
    h.recorder->insertDisc(std::move(disc));
}

CommandResult reserveTrack(Harness& h, std::uint32_t blocks) {
    std::vector<std::uint8_t> cdb{0x53, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    putBe32(&cdb[5], blocks);
    return h.run(cdb);
}

CommandResult sendCueSheet(Harness& h) {
    return h.out({0x5D, 0, 0, 0, 0, 0, 0, 0, 8, 0}, std::vector<std::uint8_t>(8, 0));
}

// The host waits out an operation started with Immed: a day of simulated
// time is longer than any of them.
void waitUntilReady(Harness& h) {
    h.pause(86400.0);
    ASSERT_TRUE(h.testUnitReady().good());
}

enum class Prep { None, CueSheet, Reserve };

TEST(WriteParameters, AreCheckedWhenTheDataArrives) {
    struct Case {
        const char* what;
        MediumKind kind;
        MediumKind selectedOn;  // the medium in the drive at MODE SELECT
        std::uint8_t page2, page3;
        std::uint32_t packet;
        std::uint8_t link;
        Prep prep;
        Expect expected;
    };
    const Case cases[] = {
        {"CD track at once", MediumKind::CdR, MediumKind::CdR, 0x41, 0x04, 0, 0, Prep::None, {}},
        {"CD variable packet", MediumKind::CdRw, MediumKind::CdRw, 0x40, 0x04, 0, 0, Prep::None, {}},
        {"CD session at once without a cue sheet", MediumKind::CdR, MediumKind::CdR, 0x42, 0x04, 0, 0, Prep::None,
         sense::CommandSequenceError},
        {"CD session at once after the cue sheet", MediumKind::CdR, MediumKind::CdR, 0x42, 0x04, 0, 0, Prep::CueSheet,
         {}},
        {"CD raw with user data blocks", MediumKind::CdRw, MediumKind::CdRw, 0x43, 0x04, 0, 0, Prep::None,
         sense::IllegalModeForTrack},
        {"DVD-R incremental", MediumKind::DvdR, MediumKind::DvdR, 0x60, 0xE5, 16, 16, Prep::None, {}},
        {"DVD-R incremental into a reserved track", MediumKind::DvdR, MediumKind::DvdR, 0x60, 0xE5, 16, 16,
         Prep::Reserve, {}},
        {"DVD-R disc at once without RESERVE TRACK", MediumKind::DvdR, MediumKind::DvdR, 0x62, 0x05, 0, 0, Prep::None,
         sense::CommandSequenceError},
        {"DVD-R disc at once into a reserved track", MediumKind::DvdR, MediumKind::DvdR, 0x62, 0x05, 0, 0,
         Prep::Reserve, {}},
        {"DVD-R with a CD's track at once", MediumKind::DvdR, MediumKind::CdR, 0x41, 0x04, 0, 0, Prep::None,
         sense::IllegalModeForTrack},
        {"DVD-RW incremental", MediumKind::DvdRwSequential, MediumKind::DvdRwSequential, 0x60, 0xC5, 16, 16,
         Prep::None, {}},
        {"DVD-RW with a CD's track at once", MediumKind::DvdRwSequential, MediumKind::CdRw, 0x41, 0x04, 0, 0,
         Prep::None, sense::IllegalModeForTrack},
        {"DVD+R ignores the write type", MediumKind::DvdPlusR, MediumKind::CdR, 0x43, 0x04, 0, 0, Prep::None, {}},
        {"DVD-RAM ignores the write type", MediumKind::DvdRam, MediumKind::CdR, 0x43, 0x04, 0, 0, Prep::None, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(c.selectedOn, 100000);
        ASSERT_TRUE(h.setWriteParameters(c.page2, c.page3, c.packet, c.link).good());
        if (c.selectedOn != c.kind) changeDisc(h, c.kind);
        if (c.prep == Prep::CueSheet) {
            ASSERT_TRUE(sendCueSheet(h).good());
        }
        if (c.prep == Prep::Reserve) {
            ASSERT_TRUE(reserveTrack(h, 64).good());
        }
        const auto r = h.write(0, pattern(32, 1));
        EXPECT_EQ(r.good() ? Expect{} : Expect{r.sense}, c.expected) << formatSense(r.sense);
        // A refused WRITE records nothing.
        const bool sequential = h.recorder->discLayout()->sequential();
        if (sequential) {
            EXPECT_EQ(h.trackInfo(1).lastRecorded, c.expected ? 0u : 31u);
        }
    }
}

TEST(DvdRw, MinimallyBlankedTakesOnlyDiscAtOnceUntilFormatted) {
    struct Case {
        const char* what;
        std::uint8_t blankByte1;  // 01h minimal, 00h full
        bool quickFormat;
        bool discAtOnce;
        Expect expected;
    };
    const Case cases[] = {
        {"minimal blank, incremental", 0x01, false, false, sense::IllegalModeForTrack},
        {"minimal blank, disc at once", 0x01, false, true, {}},
        {"minimal blank, quick format, incremental", 0x01, true, false, {}},
        {"full blank, incremental", 0x00, false, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(MediumKind::DvdRwSequential, 100000);
        ASSERT_TRUE(h.run({0xA1, c.blankByte1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
        // The state is the disc's: it survives taking the disc out and back.
        auto disc = h.recorder->removeDisc();
        disc.reset();
        ASSERT_TRUE(h.recorder->loadDiscFile(h.discPath()));
        EXPECT_EQ(h.recorder->discLayout()->minimallyBlanked, c.blankByte1 == 0x01);
        if (c.quickFormat) {
            ASSERT_TRUE(h.formatUnit(dvdRwQuickFormat()).good());
            waitUntilReady(h);
        }
        if (c.discAtOnce) {
            ASSERT_TRUE(h.setWriteParameters(0x62, 0x05).good());
            ASSERT_TRUE(reserveTrack(h, 64).good());
        } else {
            ASSERT_TRUE(h.setWriteParameters(0x60, 0xC5, 16, 16).good());
        }
        const auto r = h.write(0, pattern(32, 2));
        EXPECT_EQ(r.good() ? Expect{} : Expect{r.sense}, c.expected) << formatSense(r.sense);
    }
}

TEST(TestWrites, FollowTheNextWritableAddressAndLeaveTheDiscAsItWas) {
    struct Case {
        MediumKind kind;
        std::uint8_t page2, page3;  // with the test write bit
        std::uint32_t packet;
        std::uint8_t link;
        bool reserve;
    };
    const Case cases[] = {
        {MediumKind::CdR, 0x51, 0x04, 0, 0, false},
        {MediumKind::CdRw, 0x51, 0xC4, 0, 0, false},
        {MediumKind::DvdR, 0x70, 0xE5, 16, 16, true},
        {MediumKind::DvdRwSequential, 0x70, 0xC5, 16, 16, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(mediumInfo(c.kind).name);
        Harness h(c.kind, 100000);
        const std::string before = fileText(h.discPath());
        ASSERT_TRUE(h.setWriteParameters(c.page2, c.page3, c.packet, c.link).good());
        // Twice: the load at the end of a test burn starts the next one afresh.
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(pass);
            if (c.reserve) {
                ASSERT_TRUE(reserveTrack(h, 96).good());
            }
            for (std::uint32_t lba = 0; lba < 96; lba += 32) {
                const auto r = h.write(lba, pattern(32, lba));
                ASSERT_TRUE(r.good()) << lba << ": " << formatSense(r.sense);
            }
            // Behind and ahead of the next writable address, as a real write.
            EXPECT_EQ(h.write(0, pattern(32, 0)).sense, sense::InvalidAddressForWrite);
            EXPECT_EQ(h.write(128, pattern(32, 0)).sense, sense::InvalidAddressForWrite);
            ASSERT_TRUE(h.synchronizeCache().good());
            ASSERT_TRUE(h.close(1, 1).good());
            ASSERT_TRUE(h.close(2, 0).good());
            waitUntilReady(h);
            ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x03, 0}).good());  // load
            EXPECT_EQ(fileText(h.discPath()), before);
            EXPECT_EQ(std::filesystem::file_size(h.discPath() + ".data"), 0u);
            EXPECT_EQ(h.discInfo().discStatus, 0);
        }
        // Without the test bit the same WRITE records.
        ASSERT_TRUE(h.setWriteParameters(c.page2 & ~0x10, c.page3, c.packet, c.link).good());
        if (c.reserve) {
            ASSERT_TRUE(reserveTrack(h, 96).good());
        }
        ASSERT_TRUE(h.write(0, pattern(32, 7)).good());
        EXPECT_EQ(h.read(0, 32), pattern(32, 7));
    }
}

TEST(Closing, FollowsTheCloseFunctionsOfEachMedium) {
    struct Case {
        const char* what;
        MediumKind kind;
        std::uint8_t page2, page3;
        std::uint32_t packet;
        std::uint8_t link;
        std::uint8_t function;
        Expect expected;
        int discStatusAfter;  // -1: not looked at
    };
    const Case cases[] = {
        {"DVD+R close session: appendable whatever the page", MediumKind::DvdPlusR, 0x62, 0x04, 0, 0, 2, {}, 1},
        {"DVD+R finalise with minimal radius", MediumKind::DvdPlusR, 0x62, 0xE4, 16, 16, 5, {}, 2},
        {"DVD+R finalise", MediumKind::DvdPlusR, 0x62, 0xE4, 16, 16, 6, {}, 2},
        {"DVD+R has no function 3", MediumKind::DvdPlusR, 0x62, 0x04, 0, 0, 3, sense::InvalidFieldInCdb, 1},
        {"DVD+R DL close session", MediumKind::DvdPlusRDl, 0x22, 0x04, 0, 0, 2, {}, 1},
        {"DVD+R DL finalise", MediumKind::DvdPlusRDl, 0x22, 0xC4, 0, 0, 6, {}, 2},
        {"CD-R next session allowed", MediumKind::CdR, 0x41, 0xC4, 0, 0, 2, {}, 1},
        {"CD-R no next session", MediumKind::CdR, 0x41, 0x04, 0, 0, 2, {}, 2},
        {"CD-R has no finalise function", MediumKind::CdR, 0x41, 0xC4, 0, 0, 6, sense::InvalidFieldInCdb, 1},
        {"DVD-R next session allowed", MediumKind::DvdR, 0x60, 0xE5, 16, 16, 2, {}, 1},
        {"DVD-R no next session", MediumKind::DvdR, 0x60, 0x25, 16, 16, 2, {}, 2},
        {"DVD-R has no finalise function", MediumKind::DvdR, 0x60, 0xE5, 16, 16, 5, sense::InvalidFieldInCdb, 1},
        {"DVD-RW finalise", MediumKind::DvdRwSequential, 0x60, 0xC5, 16, 16, 3, {}, 2},
        {"DVD-RW restricted overwrite close track", MediumKind::DvdRwRestricted, 0x60, 0xC5, 16, 16, 1, {}, 2},
        {"DVD-RW restricted overwrite close session", MediumKind::DvdRwRestricted, 0x60, 0xC5, 16, 16, 2, {}, 2},
        {"DVD+RW stop background format", MediumKind::DvdPlusRw, 0x62, 0xC4, 0, 16, 3, {}, 2},
        {"DVD+RW has no tracks to close", MediumKind::DvdPlusRw, 0x62, 0xC4, 0, 16, 1, sense::InvalidFieldInCdb, 2},
        {"DVD-RAM has no close track", MediumKind::DvdRam, 0x41, 0x04, 0, 0, 1, sense::InvalidFieldInCdb, 3},
        {"DVD-RAM has no close session", MediumKind::DvdRam, 0x41, 0x04, 0, 0, 2, sense::InvalidFieldInCdb, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(c.kind, 100000);
        if (c.kind == MediumKind::DvdPlusRw) {
            ASSERT_TRUE(h.formatUnit(dvdPlusRwFullFormat()).good());
            waitUntilReady(h);
        }
        ASSERT_TRUE(h.setWriteParameters(c.page2, c.page3, c.packet, c.link).good());
        ASSERT_TRUE(h.write(0, pattern(32, 3)).good());
        ASSERT_TRUE(h.synchronizeCache().good());
        if (c.function != 1 && h.recorder->discLayout()->sequential()) {
            ASSERT_TRUE(h.close(1, 1).good());
        }
        const auto r = h.close(c.function, c.function == 1 ? 1 : 0);
        EXPECT_EQ(r.good() ? Expect{} : Expect{r.sense}, c.expected) << formatSense(r.sense);
        waitUntilReady(h);
        EXPECT_EQ(h.discInfo().discStatus, c.discStatusAfter);
    }
}

TEST(Requests, MalformedOnesAreRefused) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> cdb;
        std::size_t dataLength;
        DataDirection direction;
        Sense expected;
    };
    std::vector<std::uint8_t> modeSelectCdb{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0};
    const Case cases[] = {
        {"TEST UNIT READY in 10 bytes", {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, DataDirection::None,
         sense::InvalidFieldInCdb},
        {"READ (10) in 6 bytes", {0x28, 0, 0, 0, 0, 1}, 2048, DataDirection::In, sense::InvalidFieldInCdb},
        {"GET CONFIGURATION in 12 bytes", {0x46, 2, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0}, 16, DataDirection::In,
         sense::InvalidFieldInCdb},
        {"SET CD SPEED in 10 bytes", {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 0, DataDirection::None,
         sense::InvalidFieldInCdb},
        {"WRITE (10) with data in", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2048, DataDirection::In,
         sense::InvalidFieldInCdb},
        {"READ DISC INFORMATION with data out", {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}, 34, DataDirection::Out,
         sense::InvalidFieldInCdb},
        {"TEST UNIT READY with data in", {0x00, 0, 0, 0, 0, 0}, 16, DataDirection::In, sense::InvalidFieldInCdb},
        {"SYNCHRONIZE CACHE with data out", {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16, DataDirection::Out,
         sense::InvalidFieldInCdb},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(MediumKind::CdR);
        std::vector<std::uint8_t> data(c.dataLength, 0);
        const auto r = h.recorder->run(std::span<const std::uint8_t>(c.cdb.data(), c.cdb.size()),
                                       std::span<std::uint8_t>(data.data(), data.size()), c.direction);
        EXPECT_EQ(r.sense, c.expected) << formatSense(r.sense);
        EXPECT_EQ(h.trackInfo(1).lastRecorded, 0u);
    }
    // MODE SELECT: the mode data length is reserved; what MODE SENSE returned
    // there is refused, and the page stays as it was.
    Harness h(MediumKind::CdR);
    auto page = h.in({0x5A, 0, 0x05, 0, 0, 0, 0, 0, 60, 0}, 60);
    page[8 + 3] = 0xC4;
    EXPECT_EQ(h.out(modeSelectCdb, page).sense, sense::InvalidFieldInParameterList);
    EXPECT_EQ(h.in({0x5A, 0, 0x05, 0, 0, 0, 0, 0, 60, 0}, 60)[8 + 3], 0x04);
    page[0] = page[1] = 0;
    EXPECT_TRUE(h.out(modeSelectCdb, page).good());
    EXPECT_EQ(h.in({0x5A, 0, 0x05, 0, 0, 0, 0, 0, 60, 0}, 60)[8 + 3], 0xC4);
}

// The engine's own command builders, through the plugin's entry point in
// this process, on the media whose commands they are: every command is
// taken.
TEST(Requests, TheEnginesCommandsAreTaken) {
    TempDir dir;
    const MediumKind kinds[] = {MediumKind::DvdR, MediumKind::CdRw, MediumKind::DvdRwSequential};
    for (MediumKind kind : kinds) {
        SCOPED_TRACE(mediumInfo(kind).name);
        std::string error;
        const std::string path = dir.file(std::string(mediumInfo(kind).name) + ".vdisc");
        ASSERT_TRUE(DiscStore::create(path, kind, 100000, &error)) << error;
        const char* list[] = {path.c_str()};
        ASSERT_EQ(vrecConfigure(list, 1, 1e6), 1);
        auto device = std::make_unique<RecorderDevice>();
        device->sendAspiCommand = reinterpret_cast<void*>(&SendASPI32Command);
        device->capabilitiesPage[4] = 0x80;  // buffer-underrun-free recording
        RecorderDevice& d = *device;
        std::vector<std::uint8_t> buffer(65536, 0);
        const bool cd = kind == MediumKind::CdRw;
        const std::uint8_t type = kind == MediumKind::DvdR ? DiscDvdR : cd ? DiscCdRw : DiscDvdRwSequential;

        (void)mmc::Inquiry(d, buffer.data());
        (void)mmc::TestUnitReady(d);
        (void)mmc::RezeroUnit(d);
        (void)mmc::GetConfiguration(d, d.configBuffer, ConfigBufferBytes, 0);
        (void)mmc::ModeSense10(d, d.dataBuffer, 512, 0x2A, 1);
        (void)mmc::ReadFormatCapacities(d);
        (void)mmc::GetPerformance(d, buffer.data(), 8 + 5 * 16);
        (void)mmc::LockMedium(d);
        (void)mmc::UnlockMedium(d);
        (void)mmc::SetWriteParameters(d, 0, 1, cd ? 1 : 0, type);
        (void)mmc::ReadDiscInformation(d, d.discInfo, DiscInfoBytes);
        (void)mmc::ReadTrackInformation(d, 1);
        (void)mmc::ReadBufferCapacity(d);
        (void)mmc::SetCdSpeed(d, 0, 0);
        if (!cd) (void)mmc::SetStreamingPerformance(d, 0, 64, 22160, 22160, 1000, 1000);
        if (kind == MediumKind::DvdR) {
            (void)mmc::SendDvdTimestamp(d);
            (void)mmc::ReserveTrack(d, 64);
        }
        (void)mmc::SendOpcInformation(d);
        (void)mmc::Write10(d, 0, 32, buffer.data(), 65536);
        (void)mmc::Write10(d, 32, 32, buffer.data(), 65536);
        (void)mmc::SynchronizeCache(d, 0);
        if (kind == MediumKind::DvdR) {
            (void)mmc::CloseTrackSession(d, 0, 1, 0, 0, 1);
            (void)mmc::CloseTrackSession(d, 0, 1, 0, 0, 2);
            (void)mmc::CloseTrackSession(d, 0, 2, 0, 0, 3);
        } else {
            (void)mmc::CloseLastTrackOrSession(d, 1, 0);
            (void)mmc::CloseLastTrackOrSession(d, 0, 0);
        }
        (void)mmc::LoadMedium(d, 0);
        (void)mmc::Read10(d, 0, 16, buffer.data());
        (void)mmc::ReadTocPmaAtip(d, 0, 0, 1, buffer.data(), 100);
        (void)mmc::RequestSense(d, buffer.data(), 18);
        if (cd) {
            std::uint8_t sheet[8] = {0x41, 0, 0, 0x14, 0, 0, 0, 0};
            (void)mmc::SendCueSheet(d, sheet, sizeof sheet);
            (void)mmc::Blank(d, 1);  // Immed: the last command
        } else if (kind == MediumKind::DvdRwSequential) {
            std::uint8_t list[12] = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
            (void)mmc::FormatUnit(d, 0x11, list, sizeof list);  // Immed: the last command
        } else {
            (void)mmc::Eject(d, 0);
        }
        VirtualRecorder* recorder = vrecRecorder(0);
        ASSERT_NE(recorder, nullptr);
        const auto entries = recorder->journal().entries();
        EXPECT_GT(entries.size(), 25u);
        for (const auto& e : entries) EXPECT_TRUE(e.good()) << formatJournalEntry(e);
        vrecShutdown();
    }
}

TEST(BusyDrives, PlansMakeWritesWaitAndRetry) {
    {
        Harness h(MediumKind::CdR);
        ASSERT_TRUE(h.setWriteParameters(0x41, 0x04).good());
        ASSERT_TRUE(h.recorder->faults().addPlan("busy-op:2A:2"));
        EXPECT_TRUE(h.testUnitReady().good());
        EXPECT_EQ(h.write(0, pattern(32, 0)).scsiStatus, ScsiStatusBusy);
        EXPECT_EQ(h.write(0, pattern(32, 0)).scsiStatus, ScsiStatusBusy);
        EXPECT_TRUE(h.write(0, pattern(32, 0)).good());
        EXPECT_TRUE(h.write(32, pattern(32, 0)).good());
    }
    {
        // Every third WRITE: a retry goes through.
        Harness h(MediumKind::CdR);
        ASSERT_TRUE(h.setWriteParameters(0x41, 0x04).good());
        ASSERT_TRUE(h.recorder->faults().addPlan("busy-every:2A:3"));
        std::vector<bool> busy;
        std::uint32_t lba = 0;
        for (int i = 0; i < 7; ++i) {
            const auto r = h.write(lba, pattern(32, 0));
            busy.push_back(r.scsiStatus == ScsiStatusBusy);
            if (r.good()) lba += 32;
        }
        EXPECT_EQ(busy, (std::vector<bool>{false, false, true, false, false, true, false}));
        EXPECT_EQ(h.trackInfo(1).nwa, 5u * 32);
    }
    {
        // Long write in progress for 30 simulated seconds from the first WRITE.
        Harness h(ManualClock{}, MediumKind::DvdPlusR, 100000);
        ASSERT_TRUE(h.setWriteParameters(0x62, 0x04).good());
        ASSERT_TRUE(h.recorder->faults().addPlan("long-write:30"));
        EXPECT_EQ(h.write(0, pattern(32, 0)).sense, sense::LongWriteInProgress);
        EXPECT_EQ(h.write(0, pattern(32, 0)).sense, sense::LongWriteInProgress);
        h.pause(29.5);
        EXPECT_EQ(h.write(0, pattern(32, 0)).sense, sense::LongWriteInProgress);
        h.pause(0.5);
        EXPECT_TRUE(h.write(0, pattern(32, 0)).good());
    }
    {
        // From the WRITE that reaches a block on.
        Harness h(ManualClock{}, MediumKind::DvdPlusR, 100000);
        ASSERT_TRUE(h.setWriteParameters(0x62, 0x04).good());
        ASSERT_TRUE(h.recorder->faults().addPlan("long-write:60:64"));
        EXPECT_TRUE(h.write(0, pattern(32, 0)).good());
        EXPECT_TRUE(h.write(32, pattern(32, 0)).good());
        EXPECT_EQ(h.write(64, pattern(32, 0)).sense, sense::LongWriteInProgress);
    }
    {
        // A drive that answers "long write in progress" while its buffer is full.
        TempDir dir;
        RecorderOptions options;
        options.manualClock = true;  // the buffer drains only when the drive waits
        options.bufferBytes = 128 * 1024;
        VirtualRecorder recorder(options);
        std::string error;
        auto disc = DiscStore::create(dir.file("full.vdisc"), MediumKind::DvdPlusR, 100000, &error);
        ASSERT_TRUE(disc) << error;
        recorder.insertDisc(std::move(disc));
        ASSERT_TRUE(recorder.faults().addPlan("long-write-when-full"));
        auto chunk = pattern(32, 0);
        auto write = [&](std::uint32_t lba) {
            std::uint8_t cdb[10] = {0x2A};
            putBe32(&cdb[2], lba);
            putBe16(&cdb[7], 32);
            return recorder.run(std::span<const std::uint8_t>(cdb, 10), chunk, DataDirection::Out);
        };
        EXPECT_TRUE(write(0).good());
        EXPECT_TRUE(write(32).good());
        EXPECT_EQ(write(64).sense, sense::LongWriteInProgress);
        EXPECT_GT(recorder.bufferLevel(), 64u * 1024);  // the refused WRITE added nothing
    }
}

// `count` WRITEs of 32 blocks from block `from`: the first refusal, or the
// last answer.
CommandResult writeChunks(Harness& h, std::uint32_t from, std::uint32_t count) {
    CommandResult r;
    const auto chunk = pattern(32, from);
    for (std::uint32_t i = 0; i < count; ++i) {
        r = h.write(from + i * 32, chunk);
        if (!r.good()) break;
    }
    return r;
}

// The drive buffer of 2 MiB holds 32 WRITEs of 64 KiB; at 4x CD (1x DVD) it
// drains in under 4 seconds. The drive starts recording a track when its
// buffer is full; after that, a host that pauses longer lets it run empty
// before its next WRITE.
constexpr std::uint32_t kBufferChunks = 32;

TEST(Underruns, AreCountedAndFailTheWriteWithoutProtection) {
    struct Case {
        const char* what;
        MediumKind kind;
        std::uint8_t page2, page3;
        std::uint32_t packet;
        std::uint8_t link;
        double hostPause;        // simulated seconds before the next WRITE
        std::uint32_t chunksBefore;
        bool syncBefore;
        const char* plan;
        Expect next;             // the WRITE after `chunksBefore`
        std::uint32_t counted;   // in the disc file afterwards
    };
    const Case cases[] = {
        {"CD-R without BUFE", MediumKind::CdR, 0x01, 0x04, 0, 0, 60.0, kBufferChunks, false, "",
         sense::LossOfStreaming, 1},
        {"CD-R with BUFE", MediumKind::CdR, 0x41, 0x04, 0, 0, 60.0, kBufferChunks, false, "", {}, 1},
        {"DVD-R without BUFE", MediumKind::DvdR, 0x20, 0xE5, 16, 16, 60.0, kBufferChunks, false, "",
         sense::LossOfStreaming, 1},
        {"DVD+R DL links losslessly", MediumKind::DvdPlusRDl, 0x22, 0x04, 0, 0, 60.0, kBufferChunks, false, "", {}, 1},
        {"before the buffer first fills", MediumKind::CdR, 0x01, 0x04, 0, 0, 60.0, 1, false, "", {}, 0},
        {"a host that keeps up", MediumKind::CdR, 0x01, 0x04, 0, 0, 0.0, kBufferChunks, false, "", {}, 0},
        {"the drain at SYNCHRONIZE CACHE", MediumKind::CdR, 0x01, 0x04, 0, 0, 60.0, kBufferChunks, true, "", {}, 0},
        {"underruns not asked for", MediumKind::CdR, 0x01, 0x04, 0, 0, 60.0, kBufferChunks, false, "no-underruns", {},
         0},
        {"overwritable media", MediumKind::DvdRam, 0x01, 0x04, 0, 0, 60.0, kBufferChunks, false, "", {}, 0},
        {"a test write: failed, not recorded", MediumKind::CdR, 0x11, 0x04, 0, 0, 60.0, kBufferChunks, false, "",
         sense::LossOfStreaming, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Harness h(ManualClock{}, c.kind, 100000);
        ASSERT_TRUE(h.recorder->faults().addPlan(c.plan));
        ASSERT_TRUE(h.setWriteParameters(c.page2, c.page3, c.packet, c.link).good());
        ASSERT_TRUE(h.run({0xBB, 0, 0xFF, 0xFF, 0x02, 0xC2, 0, 0, 0, 0, 0, 0}).good());  // 4x CD
        ASSERT_TRUE(writeChunks(h, 0, c.chunksBefore).good());
        if (c.syncBefore) {
            ASSERT_TRUE(h.synchronizeCache().good());
        }
        h.pause(c.hostPause);
        const auto r = h.write(c.chunksBefore * 32, pattern(32, 1));
        EXPECT_EQ(r.good() ? Expect{} : Expect{r.sense}, c.next) << formatSense(r.sense);
        h.recorder->removeDisc();
        std::string error;
        auto reopened = DiscStore::open(h.discPath(), &error);
        ASSERT_TRUE(reopened) << error;
        EXPECT_EQ(reopened->layout().underruns, c.counted);
    }
}

// A drive that turns WRITEs away itself (busy, long write in progress) has
// paused the track: the drain meanwhile is no underrun, even without BUFE.
TEST(Underruns, NoneWhileTheDriveTurnsWritesAway) {
    for (const char* plan : {"busy-op:2A:1", "long-write:1"}) {
        SCOPED_TRACE(plan);
        Harness h(ManualClock{}, MediumKind::CdR, 100000);
        ASSERT_TRUE(h.setWriteParameters(0x01, 0x04).good());
        ASSERT_TRUE(writeChunks(h, 0, kBufferChunks).good());
        ASSERT_TRUE(h.recorder->faults().addPlan(plan));
        const std::uint32_t next = kBufferChunks * 32;
        EXPECT_FALSE(h.write(next, pattern(32, 1)).good());
        // Long enough for the buffer to run empty and the long write to end.
        h.pause(60.0);
        const CommandResult r = h.write(next, pattern(32, 1));
        EXPECT_TRUE(r.good()) << formatSense(r.sense);
        EXPECT_EQ(h.recorder->discLayout()->underruns, 0u);
    }
}

TEST(Underruns, CountSurvivesBlankingAndFormatting) {
    Harness h(ManualClock{}, MediumKind::DvdRwSequential, 100000);
    ASSERT_TRUE(h.setWriteParameters(0x20, 0xC5, 16, 16).good());
    ASSERT_TRUE(writeChunks(h, 0, kBufferChunks).good());
    h.pause(60.0);
    EXPECT_EQ(h.write(kBufferChunks * 32, pattern(32, 0)).sense, sense::LossOfStreaming);
    ASSERT_TRUE(h.run({0xA1, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).good());
    ASSERT_TRUE(h.formatUnit(dvdRwQuickFormat()).good());
    waitUntilReady(h);
    EXPECT_EQ(h.recorder->discLayout()->underruns, 1u);
}

}  // namespace
}  // namespace velk::vrec::test
