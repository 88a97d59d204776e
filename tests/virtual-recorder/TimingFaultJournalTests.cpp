// The simulated drive buffer and write speed, fault injection and the journal.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "RecorderHarness.h"
#include "virtual-recorder/DiscExport.h"
#include "virtual-recorder/DriveTiming.h"

namespace velk::vrec::test {
namespace {

struct BufferState {
    std::uint32_t length;
    std::uint32_t blank;
};

BufferState readBufferCapacity(Harness& h) {
    CommandResult r;
    const auto d = h.in({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}, 12, &r);
    EXPECT_TRUE(r.good());
    return {getBe32(&d[4]), getBe32(&d[8])};
}

TEST(DriveBuffer, FourTimesCdSpeedWritesThreeMegabytesInAboutFiveSeconds) {
    Harness h(ManualClock{}, MediumKind::CdR);
    ASSERT_TRUE(h.run({0xBB, 0, 0xFF, 0xFF, 0x02, 0xC2, 0, 0, 0, 0, 0, 0}).good());  // 706 kB/s
    EXPECT_EQ(h.recorder->writeSpeedKbps(), 706u);
    const auto empty = readBufferCapacity(h);
    EXPECT_EQ(empty.length, 2u * 1024 * 1024);
    EXPECT_EQ(empty.blank, empty.length);

    const double start = h.recorder->clock().now();
    const auto chunk = pattern(32, 0);
    std::uint32_t fullest = 0;
    for (std::uint32_t i = 0; i < 48; ++i) {  // 48 x 64 KiB = 3 MiB
        ASSERT_TRUE(h.write(i * 32, chunk).good());
        const auto b = readBufferCapacity(h);
        fullest = std::max(fullest, b.length - b.blank);
    }
    // The buffer filled up to its size while the host wrote faster than the disc.
    EXPECT_EQ(fullest, 2u * 1024 * 1024);
    const auto beforeSync = readBufferCapacity(h);
    ASSERT_TRUE(h.synchronizeCache().good());
    const double elapsed = h.recorder->clock().now() - start;
    // 3 MiB of 2048-byte user data in 2352-byte sectors at 706 kB/s: 5.117 s,
    // all of it spent by the drive waiting for the medium.
    EXPECT_NEAR(elapsed, 5.117, 0.001);
    const auto afterSync = readBufferCapacity(h);
    EXPECT_LT(beforeSync.blank, afterSync.blank);
    EXPECT_EQ(afterSync.blank, afterSync.length);
}

TEST(DriveBuffer, DrainsAtTheWriteSpeedBetweenWrites) {
    SimClock clock(1.0, ClockMode::Manual);
    DriveBuffer buffer(clock, 1000000);
    buffer.setDrainRate(100000.0);  // 100 kB per simulated second
    buffer.fill(500000);
    EXPECT_EQ(buffer.level(), 500000u);
    clock.advance(2.0);
    EXPECT_EQ(buffer.level(), 300000u);
    // A fill that does not fit waits until the buffer has room: 200 kB more
    // than the room, two seconds.
    const double before = clock.now();
    buffer.fill(900000);
    EXPECT_DOUBLE_EQ(clock.now() - before, 2.0);
    EXPECT_EQ(buffer.level(), 1000000u);
    // A transfer larger than the buffer waits for it to empty and streams
    // through: ten seconds for the full buffer, then five for the rest.
    const double large = clock.now();
    buffer.fill(1500000);
    EXPECT_DOUBLE_EQ(clock.now() - large, 15.0);
}

TEST(DriveBuffer, HeldUntilFullThenDrains) {
    SimClock clock(1.0, ClockMode::Manual);
    DriveBuffer buffer(clock, 1000000);
    buffer.setDrainRate(100000.0);
    buffer.hold();
    buffer.fill(500000);
    clock.advance(2.0);
    EXPECT_EQ(buffer.level(), 500000u);  // the medium waits for a full buffer
    buffer.fill(500000);                 // full: recording starts
    clock.advance(2.0);
    EXPECT_EQ(buffer.level(), 800000u);
    EXPECT_DOUBLE_EQ(buffer.secondsToEmpty(), 8.0);
    // Released by the host (a flush) before it is full.
    buffer.clear();
    buffer.hold();
    buffer.fill(300000);
    buffer.release();
    clock.advance(1.0);
    EXPECT_EQ(buffer.level(), 200000u);
    clock.advance(5.0);
    EXPECT_TRUE(buffer.empty());
}

TEST(SimClock, ManualClockMovesOnlyWhenAdvancedOrWhenTheDriveWaits) {
    SimClock clock(1e6, ClockMode::Manual);
    EXPECT_TRUE(clock.manual());
    EXPECT_EQ(clock.now(), 0.0);
    clock.setScale(10.0);  // no effect on a manual clock
    EXPECT_EQ(clock.now(), 0.0);
    clock.advance(1.5);
    EXPECT_DOUBLE_EQ(clock.now(), 1.5);
    clock.sleepFor(30.0);  // the drive's own wait returns at once, 30 s later
    EXPECT_DOUBLE_EQ(clock.now(), 31.5);
    clock.advance(-1.0);   // time never runs back
    EXPECT_DOUBLE_EQ(clock.now(), 31.5);
}

TEST(Faults, RulesFailTheCommandsTheyName) {
    Harness h(MediumKind::CdR);
    auto& faults = h.recorder->faults();
    faults.failNthCommand(3, sense::WriteError);
    EXPECT_TRUE(h.testUnitReady().good());
    EXPECT_TRUE(h.testUnitReady().good());
    EXPECT_EQ(h.testUnitReady().sense, sense::WriteError);
    EXPECT_TRUE(h.testUnitReady().good());

    faults.clear();
    faults.failOpcode(0x51, senseOf(3, 0x11, 0));
    EXPECT_EQ(h.run({0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}).sense, senseOf(3, 0x11, 0));
    EXPECT_EQ(h.run({0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}).sense, senseOf(3, 0x11, 0));
    EXPECT_TRUE(h.testUnitReady().good());

    faults.clear();
    faults.failWritesFrom(64, sense::WriteError);
    ASSERT_TRUE(h.setWriteParameters(0x41, 0x04).good());  // BUFE: no underrun at this time scale
    EXPECT_TRUE(h.write(0, pattern(32, 0)).good());
    EXPECT_TRUE(h.write(32, pattern(32, 0)).good());
    EXPECT_EQ(h.write(64, pattern(32, 0)).sense, sense::WriteError);
    // The failed WRITE recorded nothing: the next writable address stays 64.
    EXPECT_EQ(h.trackInfo(1).nwa, 64u);

    faults.clear();
    faults.busyFor(2);
    EXPECT_EQ(h.testUnitReady().scsiStatus, ScsiStatusBusy);
    EXPECT_EQ(h.testUnitReady().scsiStatus, ScsiStatusBusy);
    EXPECT_TRUE(h.testUnitReady().good());

    faults.refuseGetConfiguration(true);
    EXPECT_EQ(h.run({0x46, 2, 0, 0, 0, 0, 0, 0, 112, 0}).sense, sense::InvalidOpcode);
    faults.refuseGetConfiguration(false);
    EXPECT_TRUE(h.run({0x46, 2, 0, 0, 0, 0, 0, 0, 112, 0}).good());
}

TEST(Faults, BadAreasOfTheDisc) {
    Harness h(MediumKind::DvdRam, 1000);
    const auto data = pattern(64, 5);
    ASSERT_TRUE(h.write(0, data).good());
    ASSERT_TRUE(h.recorder->faults().addPlan("read:40:03/11/00,corrupt:10"));
    CommandResult r;
    auto first = h.read(0, 32, &r);
    ASSERT_TRUE(r.good());
    // Block 10 comes back inverted without an error; the others as written.
    for (std::size_t i = 0; i < first.size(); ++i) {
        const std::uint8_t expected = i / 2048 == 10 ? static_cast<std::uint8_t>(~data[i]) : data[i];
        ASSERT_EQ(first[i], expected) << "byte " << i;
    }
    h.read(32, 32, &r);
    EXPECT_EQ(r.sense, sense::UnrecoveredReadError);
    EXPECT_EQ(h.read(41, 8, &r), std::vector<std::uint8_t>(data.begin() + 41 * 2048, data.begin() + 49 * 2048));
    EXPECT_TRUE(r.good());
}

// A WRITE that stores one block wrong reports success; only reading finds
// it, and the disc file keeps it, so an exported image holds it too. The
// reads here set FUA, as a verifying burner does.
TEST(Faults, ABlockRecordedWrongIsFoundOnlyByReadingIt) {
    Harness h(MediumKind::DvdPlusR, 50000);
    ASSERT_TRUE(h.recorder->faults().addPlan("corrupt-write:37"));
    const auto data = pattern(64, 3);
    ASSERT_TRUE(h.write(0, std::vector<std::uint8_t>(data.begin(), data.begin() + 32 * 2048)).good());
    ASSERT_TRUE(h.write(32, std::vector<std::uint8_t>(data.begin() + 32 * 2048, data.end())).good());
    ASSERT_TRUE(h.synchronizeCache().good());
    ASSERT_TRUE(h.close(2, 0).good());
    auto expected = data;
    for (std::size_t i = 37 * 2048; i < 38 * 2048; ++i) expected[i] = static_cast<std::uint8_t>(~expected[i]);

    std::vector<std::uint8_t> back(64 * 2048);
    const std::vector<std::uint8_t> fuaRead = {0x28, 0x08, 0, 0, 0, 0, 0, 0, 64, 0};
    ASSERT_TRUE(h.run(fuaRead, &back).good());
    EXPECT_EQ(back, expected);

    TempDir out;
    const std::string image = out.file("disc.iso");
    h.recorder->removeDisc();
    std::string error;
    auto disc = DiscStore::open(h.discPath(), &error);
    ASSERT_TRUE(disc) << error;
    ASSERT_TRUE(exportImage(*disc, 0, image, &error)) << error;
    std::ifstream in(image, std::ios::binary);
    std::vector<std::uint8_t> exported((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(exported.size(), expected.size());
    exported.resize(expected.size());
    EXPECT_EQ(exported, expected);
}

// READ (10) as drives take it: DPO and FUA are accepted (the drive has no
// cache to bypass), relative addressing is not; a block never recorded on
// sequential media is out of range, as is one beyond the capacity.
TEST(Faults, ReadFlagsAndUnrecordedBlocks) {
    Harness h(MediumKind::DvdR, 50000);
    const auto data = pattern(16, 9);
    ASSERT_TRUE(h.setWriteParameters(0x40, 0x05).good());
    ASSERT_TRUE(h.write(0, data).good());
    struct Case {
        const char* what;
        std::uint8_t byte1;
        std::uint32_t lba;
        std::uint16_t blocks;
        std::optional<Sense> refusal;
    };
    const Case cases[] = {
        {"plain", 0x00, 0, 16, std::nullopt},
        {"FUA", 0x08, 0, 16, std::nullopt},
        {"DPO and FUA", 0x18, 4, 4, std::nullopt},
        {"relative address", 0x01, 0, 1, sense::InvalidFieldInCdb},
        {"an unrecorded block at the end", 0x08, 8, 9, sense::LbaOutOfRange},
        {"far into the blank area", 0x00, 20000, 1, sense::LbaOutOfRange},
        {"beyond the capacity", 0x00, 49999, 2, sense::LbaOutOfRange},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> cdb(10, 0);
        cdb[0] = 0x28;
        cdb[1] = c.byte1;
        putBe32(&cdb[2], c.lba);
        putBe16(&cdb[7], c.blocks);
        std::vector<std::uint8_t> back(std::size_t{c.blocks} * 2048);
        const CommandResult r = h.run(cdb, &back);
        if (c.refusal) {
            EXPECT_EQ(r.sense, *c.refusal) << c.what;
        } else {
            ASSERT_TRUE(r.good()) << c.what << ": " << formatSense(r.sense);
            EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin() + std::size_t{c.lba} * 2048)) << c.what;
        }
    }
}

TEST(Faults, UnitAttentionAfterLoadAndReset) {
    Harness h(MediumKind::DvdR);
    h.recorder->faults().unitAttentionAfterNextLoad();
    ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x02, 0}).good());
    ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x03, 0}).good());
    EXPECT_TRUE(h.run({0x12, 0, 0, 0, 36, 0}).good());  // INQUIRY does not see it
    EXPECT_EQ(h.testUnitReady().sense, sense::MediumChanged);
    EXPECT_TRUE(h.testUnitReady().good());
    // Only the next load.
    ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x02, 0}).good());
    ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x03, 0}).good());
    EXPECT_TRUE(h.testUnitReady().good());

    h.recorder->powerOnReset();
    EXPECT_EQ(h.run({0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}).sense, sense::PowerOnReset);
    EXPECT_TRUE(h.testUnitReady().good());
}

TEST(Faults, PlansAreParsedFromText) {
    struct Case {
        const char* plan;
        bool valid;
    };
    const Case cases[] = {
        {"cmd:5:03/0C/00", true},
        {"op:2A:05/21/02, busy:3; no-config,ua-on-load", true},
        {"write:1000:03/0c/00", true},
        {"", true},
        {"cmd:5", false},
        {"op:1FF:05/24/00", false},
        {"cmd:x:03/0C/00", false},
        {"write:10:3/0C", false},
        {"sometimes", false},
        {"read:16:03/11/00, busy-op:2A:3, busy-every:2A:10, long-write:3, long-write:2.5:1000", true},
        {"long-write-when-full; no-underruns, corrupt:20", true},
        {"corrupt:x", false},
        {"corrupt-write:100, corrupt:100", true},
        {"corrupt-write:12x", false},
        {"corrupt-write", false},
        {"busy-every:2A:0", false},
        {"long-write:-1", false},
        {"long-write:3s", false},
        {"busy-op:2A", false},
        {"read:-5:03/11/00", false},
        {"recovered:2A:3, deferred:35:03/0C/00; sense-descriptor, becoming-ready:2.5, transport:2A:1", true},
        {"recovered:2A:0", false},
        {"recovered:2A", false},
        {"deferred:35:03/0C", false},
        {"becoming-ready:-1", false},
        {"becoming-ready", false},
        {"sense-descriptor:1", false},
        {"transport:2A", false},
    };
    for (const auto& c : cases) {
        FaultInjector f;
        std::string error;
        EXPECT_EQ(f.addPlan(c.plan, &error), c.valid) << c.plan;
        if (!c.valid) {
            EXPECT_FALSE(error.empty());
        }
    }
    // The error tells a rule that does not exist from one written wrong.
    std::string error;
    EXPECT_FALSE(FaultInjector().addPlan("busy:1, sometimes", &error));
    EXPECT_EQ(error, "unknown fault rule: sometimes");
    EXPECT_FALSE(FaultInjector().addPlan("no-config, cmd:5", &error));
    EXPECT_EQ(error, "malformed fault rule: cmd:5");
    FaultInjector f;
    ASSERT_TRUE(f.addPlan("op:2A:05/21/02,busy:1"));
    const std::uint8_t write[10] = {0x2A};
    const std::uint8_t tur[6] = {0};
    EXPECT_TRUE(f.decide(tur).busy);
    EXPECT_EQ(f.decide(write).sense, sense::InvalidAddressForWrite);
    EXPECT_FALSE(f.decide(tur).sense);
    // A READ fails only where its range holds the named block.
    FaultInjector reads;
    ASSERT_TRUE(reads.addPlan("read:16:03/11/00"));
    std::uint8_t read[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 16, 0};
    EXPECT_FALSE(reads.decide(read).sense);  // blocks 0-15
    read[5] = 1;
    EXPECT_EQ(reads.decide(read).sense, sense::UnrecoveredReadError);  // blocks 1-16
    read[5] = 17;
    EXPECT_FALSE(reads.decide(read).sense);
}

TEST(Journal, RecordsEveryCommandWithItsOutcome) {
    Harness h(MediumKind::CdR);
    ASSERT_TRUE(h.setWriteParameters(0x41, 0xC4).good());
    ASSERT_TRUE(h.write(0, pattern(2, 0)).good());
    EXPECT_FALSE(h.write(5, pattern(1, 0)).good());
    h.recorder->faults().busyFor(1);
    h.testUnitReady();
    const auto entries = h.recorder->journal().entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(h.recorder->journal().opcodes(), (std::vector<std::uint8_t>{0x5A, 0x55, 0x2A, 0x2A, 0x00}));
    // MODE SELECT keeps its parameter list; WRITE data is not copied.
    EXPECT_EQ(entries[1].parameters.size(), 60u);
    EXPECT_EQ(entries[1].parameters[8], 0x05);
    EXPECT_EQ(entries[1].parameters[10], 0x41);
    EXPECT_TRUE(entries[2].parameters.empty());
    EXPECT_EQ(entries[2].dataLength, 4096u);
    EXPECT_TRUE(entries[2].good());
    EXPECT_EQ(entries[3].status, ScsiStatusCheckCondition);
    EXPECT_EQ(entries[3].sense, sense::InvalidAddressForWrite);
    EXPECT_EQ(entries[4].status, ScsiStatusBusy);
    EXPECT_EQ(formatJournalEntry(entries[3]), "2A 00 00 00 00 05 00 00 01 00 | out 2048 | 02 05/21/02");
    // A reader that follows the journal gets only what is new.
    EXPECT_EQ(h.recorder->journal().entriesFrom(3).size(), 2u);
    EXPECT_EQ(h.recorder->journal().entriesFrom(3)[0].sense, sense::InvalidAddressForWrite);
    EXPECT_TRUE(h.recorder->journal().entriesFrom(5).empty());
    h.recorder->journal().clear();
    EXPECT_EQ(h.recorder->journal().size(), 0u);
}

}  // namespace
}  // namespace velk::vrec::test
