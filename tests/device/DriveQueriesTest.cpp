#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "engine/core/TraceLog.h"
#include "engine/device/BigEndian.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using testing::FakeDrive;
using testing::Reply;
using testing::SentCommand;
using Bytes = std::vector<std::uint8_t>;

Reply withData(Bytes data) {
    Reply reply;
    reply.data = std::move(data);
    return reply;
}

Reply configuration(std::uint16_t profile) {
    Bytes data(112, 0);
    device::putBe32(data.data(), 108);
    device::putBe16(data.data() + 6, profile);
    return withData(data);
}

Reply discInformation(std::uint8_t statusByte, std::uint8_t sessions, std::uint8_t lastTrack) {
    Bytes data(66, 0);
    device::putBe16(data.data(), 32);
    data[2] = statusByte;
    data[4] = sessions;
    data[6] = lastTrack;
    return withData(data);
}

Reply trackInformation(std::uint32_t start, std::uint32_t freeBlocks, std::uint32_t size, bool fixedPacket = false) {
    Bytes data(96, 0);
    device::putBe16(data.data(), 46);
    data[6] = fixedPacket ? 0x10 : 0;
    device::putBe32(data.data() + 8, start);
    device::putBe32(data.data() + 16, freeBlocks);
    device::putBe32(data.data() + 24, size);
    return withData(data);
}

Reply formatCapacity(std::uint32_t blocks) {
    Bytes data(28, 0);
    data[3] = 8;
    device::putBe32(data.data() + 4, blocks);
    device::putBe24(data.data() + 9, 2048);
    return withData(data);
}

// Answers READ (10) with a primary volume descriptor of `blocks` at block 16
// (none when blocks is 0: the disc is blank and every read is refused).
std::optional<Reply> volumeBlocks(const SentCommand& c, std::uint32_t blocks) {
    if (c.opcode() != 0x28) return std::nullopt;
    if (blocks == 0) return testing::checkCondition(5, 0x64, 0);
    Bytes block(2048, 0);
    block[0] = device::getBe32(c.cdb.data() + 2) == 16 ? 1 : 0xFF;
    std::memcpy(block.data() + 1, "CD001", 5);
    for (int i = 0; i < 4; ++i) block[80 + i] = static_cast<std::uint8_t>(blocks >> (8 * i));  // little-endian
    return withData(block);
}

// Page 2Ah after a header and an 8-byte block descriptor, PS bit set.
Reply capabilitiesPage(std::uint8_t read, std::uint8_t write, std::uint8_t byte4, std::uint16_t maxRead,
                       std::uint16_t curRead, std::uint16_t maxWrite, std::uint16_t curWrite) {
    Bytes data(128, 0);
    device::putBe16(data.data(), 126);
    device::putBe16(data.data() + 6, 8);
    std::uint8_t* page = data.data() + 16;
    page[0] = 0xAA;
    page[1] = 0x3C;
    page[2] = read;
    page[3] = write;
    page[4] = byte4;
    device::putBe16(page + 8, maxRead);
    device::putBe16(page + 12, 2048);
    device::putBe16(page + 14, curRead);
    device::putBe16(page + 18, maxWrite);
    device::putBe16(page + 20, curWrite);
    return withData(data);
}

class DriveQueriesTest : public ::testing::Test {
protected:
    testing::DevicePtr device = testing::makeDevice();
};

TEST_F(DriveQueriesTest, DiscTypeFromTheCurrentProfile) {
    const std::pair<std::uint16_t, DiscType> profiles[] = {
        {0x0008, DiscCdRom}, {0x0009, DiscCdR}, {0x000A, DiscCdRw}, {0x0010, DiscDvdRom},
        {0x0011, DiscDvdR}, {0x0012, DiscDvdRam}, {0x0013, DiscDvdRwRestricted},
        {0x0014, DiscDvdRwSequential}, {0x001A, DiscDvdPlusRw}, {0x001B, DiscDvdPlusR},
        {0x002B, DiscDvdPlusRDualLayer}, {0x0020, DiscDdcdRom}, {0x0021, DiscDdcdR},
        {0x0022, DiscDdcdRw}, {0x0000, DiscNone}, {0x0015, DiscNone}, {0x0041, DiscNone},
    };
    for (const auto& [profile, type] : profiles) {
        SCOPED_TRACE(profile);
        FakeDrive drive(*device);
        drive.on(0x46, configuration(profile));
        EXPECT_EQ(device::GetDiscType(*device), type);
        EXPECT_EQ(drive.last(0x46)->cdb, (Bytes{0x46, 2, 0, 0, 0, 0, 0, 0, 112, 0}));
        EXPECT_EQ(device::getHost16(device->configBuffer + 6), profile);  // converted in place
    }
}

TEST_F(DriveQueriesTest, DiscTypeFallsBackToAtipThenDiscInformationThenTestUnitReady) {
    struct Case {
        const char* name;
        std::optional<std::uint8_t> atipByte6;
        std::optional<std::uint8_t> discStatusByte;
        bool ready;
        DiscType expected;
    };
    const Case cases[] = {
        {"blank CD-RW from the ATIP", 0xC0, std::nullopt, false, DiscCdRw},
        {"CD-R from the ATIP", 0x80, std::nullopt, false, DiscCdR},
        {"pressed disc from the ATIP", 0x40, std::nullopt, false, DiscCdRom},
        {"erasable from disc information", std::nullopt, 0x10, false, DiscCdRw},
        {"write-once from disc information", std::nullopt, 0x0E, false, DiscCdR},
        {"only ready", std::nullopt, std::nullopt, true, DiscCdRom},
        {"nothing answers", std::nullopt, std::nullopt, false, DiscNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device);
        Reply refused = testing::checkCondition(5, 0x20, 0);
        drive.on(0x46, refused);
        if (c.atipByte6) {
            Bytes atip(30, 0);
            atip[6] = *c.atipByte6;
            drive.on(0x43, withData(atip));
        } else {
            drive.on(0x43, refused);
        }
        drive.on(0x51, c.discStatusByte ? discInformation(*c.discStatusByte, 1, 1) : refused);
        drive.on(0x00, c.ready ? Reply{} : testing::checkCondition(2, 0x3A, 0));
        EXPECT_EQ(device::GetDiscType(*device), c.expected);
        const SentCommand* atip = drive.last(0x43);
        ASSERT_NE(atip, nullptr);
        EXPECT_EQ(atip->cdb, (Bytes{0x43, 2, 4, 0, 0, 0, 0, 0, 30, 0}));
    }
}

TEST_F(DriveQueriesTest, ProbeReadsSpeedsCapabilitiesAndFeatures) {
    FakeDrive drive(*device);
    drive.respond = [](const SentCommand& c) -> std::optional<Reply> {
        if (c.opcode() == 0x5A && c.cdb[2] == 0xAA) return capabilitiesPage(0x3B, 0x37, 0x00, 8467, 2000, 5540, 1385);
        if (c.opcode() == 0x5A && c.cdb[2] == 0x2A) return capabilitiesPage(0x3B, 0x37, 0x00, 7056, 1764, 4155, 2770);
        if (c.opcode() == 0x5A && c.cdb[2] == 0xB0) return Reply{};  // page 30h answered
        if (c.opcode() == 0x46) {
            std::uint16_t feature = device::getBe16(c.cdb.data() + 2);
            Bytes data(112, 0);
            device::putBe32(data.data(), 12);  // header rest, descriptor header and 4 body bytes
            device::putBe16(data.data() + 8, feature);
            data[12] = feature == 0x2A ? 0x01 : feature == 0x2F ? 0x02 : 0x00;
            return withData(data);
        }
        return std::nullopt;
    };
    ASSERT_EQ(device::ProbeCapabilities(*device), 1);
    EXPECT_EQ(device->defaultMaxReadSpeed, 8467);
    EXPECT_EQ(device->defaultMaxWriteSpeed, 5540);
    EXPECT_EQ(device->maxReadSpeed, 7056);
    EXPECT_EQ(device->currentReadSpeed, 1764);
    EXPECT_EQ(device->maxWriteSpeed, 4155);
    EXPECT_EQ(device->currentWriteSpeed, 2770);
    EXPECT_EQ(device::getHost16(device->capabilitiesPage + 12), 2048);  // buffer size in host order
    EXPECT_EQ(device::CanWrite(*device), 1);

    const std::pair<int, int> codes[] = {
        {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 0}, {10, 0},
        {11, 1}, {12, 1}, {13, 1}, {14, 1}, {15, 1}, {16, 1}, {17, 1}, {18, 0}, {21, 1}, {22, 1}, {23, 0}, {0, 0},
    };
    for (const auto& [code, expected] : codes) EXPECT_EQ(device::QueryCapability(*device, code), expected) << code;
    EXPECT_EQ(device->capabilityFlags[device::CapDvdRomRead], 1);

    drive.respond = nullptr;
    drive.on(0x5A, testing::checkCondition(5, 0x24, 0));
    EXPECT_EQ(device::GetMaxWriteSpeed(*device), 0);
    EXPECT_EQ(device::CanWrite(*device), 0);
}

TEST_F(DriveQueriesTest, FeatureBeyondTheConfigurationDataLengthIsNotTaken) {
    FakeDrive drive(*device);
    drive.respond = [](const SentCommand& c) -> std::optional<Reply> {
        if (c.opcode() == 0x5A) return capabilitiesPage(0, 0, 0, 1, 1, 1, 1);
        if (c.opcode() != 0x46) return std::nullopt;
        // Only the 8-byte header is declared; the rest is noise that happens
        // to look like the feature asked for.
        Bytes data(112, 0);
        device::putBe32(data.data(), 4);
        device::putBe16(data.data() + 8, device::getBe16(c.cdb.data() + 2));
        data[12] = 0x03;
        return withData(data);
    };
    ASSERT_EQ(device::ProbeCapabilities(*device), 1);
    for (int code : {6, 7, 8, 14, 15, 16, 17, 18}) EXPECT_EQ(device::QueryCapability(*device, code), 0) << code;
}

TEST_F(DriveQueriesTest, UnderrunFreeSupportFromPage2AOrFromPage30) {
    struct Case {
        std::uint8_t byte4;
        bool page30;
        int expected;
    };
    for (const Case& c : {Case{0x80, false, 1}, Case{0x00, true, 1}, Case{0x00, false, 0}}) {
        FakeDrive drive(*device);
        drive.respond = [&c](const SentCommand& command) -> std::optional<Reply> {
            if (command.opcode() != 0x5A) return std::nullopt;
            if ((command.cdb[2] & 0x3F) == 0x30) {
                return c.page30 ? Reply{} : testing::checkCondition(5, 0x24, 0);
            }
            return capabilitiesPage(0, 0, c.byte4, 1, 1, 1, 1);
        };
        ASSERT_EQ(device::ProbeCapabilities(*device), 1);
        EXPECT_EQ(device::QueryCapability(*device, 22), c.expected);
    }
}

TEST_F(DriveQueriesTest, SessionCountLeavesOutAnOpenLastSession) {
    struct Case {
        const char* name;
        std::optional<std::uint8_t> statusByte;
        std::uint8_t sessions;
        std::uint16_t profile;
        std::uint8_t expected;
    };
    const Case cases[] = {
        {"three sessions, the last incomplete", 0x05, 3, 0x0009, 2},
        {"blank disc", 0x00, 1, 0x0009, 0},
        {"no session reported", 0x00, 0, 0x0009, 0},
        {"no session reported, last incomplete", 0x05, 0, 0x0009, 0},
        {"finalised", 0x0E, 3, 0x0009, 3},
        {"refused on DVD-RAM", std::nullopt, 0, 0x0012, 1},
        {"refused otherwise", std::nullopt, 0, 0x0011, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device);
        drive.on(0x51, c.statusByte ? discInformation(*c.statusByte, c.sessions, 1)
                                    : testing::checkCondition(2, 0x3A, 0));
        drive.on(0x46, configuration(c.profile));
        EXPECT_EQ(device::GetSessionCount(*device), c.expected);
        if (c.statusByte) {
            EXPECT_EQ(device->discInfo[4], c.expected);
        }
    }
}

TEST_F(DriveQueriesTest, FinalisedDiscHasNoWritableSpace) {
    FakeDrive drive(*device);
    drive.on(0x46, configuration(0x0009));
    drive.on(0x51, discInformation(0x0E, 1, 1));
    drive.on(0x52, trackInformation(0, 0, 1000));
    EXPECT_EQ(device::IsDiscWritable(*device), 0);
    EXPECT_EQ(device::GetFreeBlocks(*device), 0);
    EXPECT_EQ(drive.last(0x55), nullptr);
}

TEST_F(DriveQueriesTest, DvdPlusRwWithoutTrackInformationIsFormattedSizeLessTheVolume) {
    FakeDrive drive(*device);
    drive.on(0x46, configuration(0x001A));
    drive.on(0x51, discInformation(0x1E, 1, 1));
    drive.on(0x52, testing::checkCondition(5, 0x24, 0));
    drive.on(0x23, formatCapacity(2295104));
    drive.respond = [](const SentCommand& c) -> std::optional<Reply> {
        if (c.opcode() != 0x28) return std::nullopt;
        Bytes block(2048, 0);
        std::uint32_t address = device::getBe32(c.cdb.data() + 2);
        block[0] = address == 16 ? 1 : 0xFF;
        std::memcpy(block.data() + 1, "CD001", 5);
        block[80] = 0x10;  // 10000 blocks, little-endian
        block[81] = 0x27;
        return withData(block);
    };
    EXPECT_EQ(device::GetFreeBlocks(*device), 2295104 - 10000);
}

// One formatted track, the volume on it taken away: a blank DVD-RW in
// restricted overwrite is free as a whole, like a DVD+RW or DVD-RAM.
TEST_F(DriveQueriesTest, OverwritableFreeBlocksAreTheTrackLessTheVolumeNeverBelowZero) {
    struct Case {
        const char* name;
        std::uint16_t profile;
        bool trackAnswered;
        std::uint32_t volume;
        std::uint32_t expected;
    };
    constexpr std::uint32_t Track = 2295104, Formatted = 2236704;
    const Case cases[] = {
        {"blank DVD-RW restricted overwrite", 0x0013, true, 0, Track},
        {"written DVD-RW restricted overwrite", 0x0013, true, 10000, Track - 10000},
        {"DVD-RW restricted overwrite without track information", 0x0013, false, 10000, Formatted - 10000},
        {"DVD+RW", 0x001A, true, 10000, Track - 10000},
        {"DVD-RAM", 0x0012, true, 0, Track},
        {"volume claims more than the track", 0x0013, true, Track + 1, 0},
        {"volume claims more than the formatted capacity", 0x001A, false, Formatted + 5, 0},
        {"volume exactly the track", 0x0012, true, Track, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device);
        drive.on(0x46, configuration(c.profile));
        drive.on(0x51, discInformation(0x0E, 1, 1));
        drive.on(0x52, c.trackAnswered ? trackInformation(0, 0, Track) : testing::checkCondition(5, 0x24, 0));
        drive.on(0x23, formatCapacity(Formatted));
        std::uint32_t volume = c.volume;
        drive.respond = [volume](const SentCommand& command) { return volumeBlocks(command, volume); };
        EXPECT_EQ(device::IsDiscWritable(*device), 1);
        EXPECT_EQ(static_cast<std::uint32_t>(device::GetFreeBlocks(*device)), c.expected);
    }
}

TEST_F(DriveQueriesTest, IsoVolumeSizePrefersTheSupplementaryDescriptor) {
    FakeDrive drive(*device);
    drive.respond = [](const SentCommand& c) -> std::optional<Reply> {
        if (c.opcode() != 0x28) return std::nullopt;
        std::uint32_t address = device::getBe32(c.cdb.data() + 2);
        if (address == 20) return testing::checkCondition(3, 0x11, 0);
        Bytes block(2048, 0);
        block[0] = address == 16 ? 1 : address == 17 ? 2 : 0xFF;
        std::memcpy(block.data() + 1, "CD001", 5);
        block[80] = static_cast<std::uint8_t>(address);
        return withData(block);
    };
    EXPECT_EQ(device::GetIsoVolumeSize(*device), 17u);

    drive.respond = [](const SentCommand& c) -> std::optional<Reply> {
        if (c.opcode() != 0x28) return std::nullopt;
        return withData(Bytes(2048, 0));
    };
    EXPECT_EQ(device::GetIsoVolumeSize(*device), 0u);
}

// The reads keep the node open between them; afterwards the device is as it
// was: a node closed after each command is closed, an open one stays open,
// and the close-after-command setting is the caller's again.
TEST_F(DriveQueriesTest, IsoVolumeSizeLeavesTheNodeAndItsSettingAsItFoundThem) {
    for (std::uint32_t volume : {0u, 40u}) {
        SCOPED_TRACE(volume);
        FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
        drive.on(0x46, configuration(0x0011));
        std::vector<int> readHandles;
        drive.respond = [&drive, &readHandles, volume](const SentCommand& c) {
            if (c.opcode() == 0x28) readHandles.push_back(drive.lastSgIo.handle);
            return volumeBlocks(c, volume);
        };

        device->closeAfterCommand = 1;
        EXPECT_EQ(device::GetIsoVolumeSize(*device), volume);
        EXPECT_EQ(device->closeAfterCommand, 1);
        EXPECT_EQ(device->deviceHandle, -1);
        ASSERT_FALSE(readHandles.empty());
        EXPECT_EQ(std::count(readHandles.begin(), readHandles.end(), readHandles.front()),
                  static_cast<std::ptrdiff_t>(readHandles.size()));  // one node for all reads

        device->closeAfterCommand = 0;
        EXPECT_EQ(device::TestUnitReady(*device), 1);
        int open = device->deviceHandle;
        ASSERT_GE(open, 0);
        EXPECT_EQ(device::GetIsoVolumeSize(*device), volume);
        EXPECT_EQ(device->closeAfterCommand, 0);
        EXPECT_EQ(device->deviceHandle, open);
    }
}

// Commands sent to find out whether something is there (page 30h, a feature,
// the volume descriptors of a blank disc, the invisible track as FFh, write
// parameters a pressed disc refuses) leave the hardware error code as it was;
// the failures that decide an answer still set it.
TEST_F(DriveQueriesTest, RefusalsThatAreAnswersLeaveTheErrorCodeAsItWas) {
    struct Case {
        const char* name;
        std::function<void(FakeDrive&)> script;
        std::function<void(RecorderDevice&)> query;
        std::uint16_t expected;  // Kept: the earlier code stays
    };
    constexpr std::uint16_t Earlier = 0x0C00, Kept = 0;
    Reply invalidField = testing::checkCondition(5, 0x24, 0);
    Reply invalidOpcode = testing::checkCondition(5, 0x20, 0);
    const Case cases[] = {
        {"page 30h and the features absent",
         [&](FakeDrive& d) {
             d.respond = [&](const SentCommand& c) -> std::optional<Reply> {
                 if (c.opcode() == 0x5A && (c.cdb[2] & 0x3F) == 0x30) return invalidField;
                 if (c.opcode() == 0x5A) return capabilitiesPage(0x3B, 0x37, 0, 1, 1, 1, 1);
                 return std::nullopt;
             };
             d.on(0x46, invalidField);
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::ProbeCapabilities(r), 1); }, Kept},
        {"page 2Ah refused",
         [&](FakeDrive& d) { d.on(0x5A, invalidField); },
         [](RecorderDevice& r) { EXPECT_EQ(device::ProbeCapabilities(r), 0); }, 0x2400},
        {"blank disc read for a volume",
         [&](FakeDrive& d) {
             d.on(0x46, configuration(0x0011));
             d.respond = [](const SentCommand& c) { return volumeBlocks(c, 0); };
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::GetIsoVolumeSize(r), 0u); }, Kept},
        {"no GET CONFIGURATION, medium told by the ATIP",
         [&](FakeDrive& d) {
             d.on(0x46, invalidOpcode);
             Bytes atip(30, 0);
             atip[6] = 0x80;
             d.on(0x43, withData(atip));
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::GetDiscType(r), DiscCdR); }, Kept},
        {"no GET CONFIGURATION and no medium",
         [&](FakeDrive& d) {
             for (std::uint8_t op : {0x46, 0x43, 0x51}) d.on(op, invalidOpcode);
             d.on(0x00, testing::checkCondition(2, 0x3A, 0));
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::GetDiscType(r), DiscNone); }, 0x3A00},
        {"no invisible track as FFh, the next track answers",
         [&](FakeDrive& d) {
             d.on(0x46, configuration(0x0009));
             d.on(0x51, discInformation(0x03, 1, 1));  // status other: asks the track
             d.respond = [&](const SentCommand& c) -> std::optional<Reply> {
                 if (c.opcode() == 0x52 && c.cdb[5] == 0xFF) return invalidField;
                 if (c.opcode() == 0x52) return trackInformation(0, 100, 100);
                 return std::nullopt;
             };
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::IsDiscWritable(r), 1); }, Kept},
        {"no track answers at all",
         [&](FakeDrive& d) {
             d.on(0x46, configuration(0x0009));
             d.on(0x51, discInformation(0x03, 1, 1));
             d.on(0x52, invalidField);
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::IsDiscWritable(r), 0); }, 0x2400},
        {"CD track refused once, answered when asked again",
         [&](FakeDrive& d) {
             d.on(0x46, configuration(0x0009));
             d.on(0x51, discInformation(0x01, 1, 1));
             auto asked = std::make_shared<int>(0);
             d.respond = [&, asked](const SentCommand& c) -> std::optional<Reply> {
                 if (c.opcode() != 0x52) return std::nullopt;
                 return ++*asked == 1 ? testing::checkCondition(2, 0x04, 0x01) : trackInformation(0, 500, 600);
             };
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::GetFreeBlocks(r), 600); }, Kept},
        {"pressed disc refuses the write parameters",
         [&](FakeDrive& d) {
             d.on(0x46, configuration(0x0010));
             d.on(0x5A, invalidField);  // no write parameters page
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::GetDiscCapacity(r), 0); }, Kept},
        {"DVD+RW without track information",
         [&](FakeDrive& d) {
             d.on(0x46, configuration(0x001A));
             d.on(0x51, discInformation(0x0E, 1, 1));
             d.on(0x52, invalidField);
             d.on(0x23, formatCapacity(1000));
             d.respond = [](const SentCommand& c) { return volumeBlocks(c, 0); };
         },
         [](RecorderDevice& r) { EXPECT_EQ(device::GetFreeBlocks(r), 1000); }, Kept},
    };
    for (const Case& c : cases) {
        for (std::uint16_t before : {std::uint16_t{0}, Earlier}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", earlier code " << before);
            FakeDrive drive(*device);
            c.script(drive);
            device->lastErrorCode = before;
            c.query(*device);
            EXPECT_EQ(device->lastErrorCode.load(), c.expected == Kept ? before : c.expected);
        }
    }
}

TEST_F(DriveQueriesTest, CdCapacityIsStartPlusSizeUnlessFixedPacket) {
    for (bool fixed : {false, true}) {
        FakeDrive drive(*device);
        drive.on(0x46, configuration(0x0009));
        drive.on(0x51, discInformation(0x01, 1, 1));
        drive.on(0x52, trackInformation(11400, 300000, 348447, fixed));
        EXPECT_EQ(device::GetDiscCapacity(*device), fixed ? 348447 : 359847);
        EXPECT_EQ(drive.last(0x52)->cdb[5], 1);
    }
}

TEST_F(DriveQueriesTest, CanEraseByTypeOrErasableBit) {
    struct Case {
        std::uint16_t profile;
        std::uint8_t statusByte;
        int expected;
    };
    for (const Case& c : {Case{0x0012, 0, 1}, Case{0x0013, 0, 1}, Case{0x0014, 0, 1}, Case{0x001A, 0, 1},
                          Case{0x000A, 0x10, 1}, Case{0x0009, 0x00, 0}, Case{0x001B, 0x00, 0}}) {
        FakeDrive drive(*device);
        drive.on(0x46, configuration(c.profile));
        drive.on(0x51, discInformation(c.statusByte, 1, 1));
        EXPECT_EQ(device::CanErase(*device), c.expected) << c.profile;
    }
}

TEST_F(DriveQueriesTest, SetSpeedsStoresThemAndSendsSetCdSpeed) {
    FakeDrive drive(*device);
    EXPECT_EQ(device::SetSpeeds(*device, 0, 2770), 1);
    EXPECT_EQ(device->readSpeed, 0);
    EXPECT_EQ(device->writeSpeed, 2770);
    EXPECT_EQ(drive.last(0xBB)->cdb, (Bytes{0xBB, 0, 0xFF, 0xFF, 0x0A, 0xD2, 0, 0, 0, 0, 0, 0}));
}

TEST_F(DriveQueriesTest, TraceLogOpensAtItsFixedPlaceAndCloses) {
    testing::TempDir state;
    const char* saved = std::getenv("XDG_STATE_HOME");
    std::string savedValue = saved ? saved : "";
    ::setenv("XDG_STATE_HOME", state.str().c_str(), 1);
    EXPECT_EQ(device::QueryCapability(*device, 72), 1);
    EXPECT_TRUE(trace::isOpen());
    EXPECT_EQ(device::QueryCapability(*device, 73), 1);
    EXPECT_EQ(device::QueryCapability(*device, 73), 0);
    EXPECT_TRUE(std::filesystem::exists(state.path() / "velk" / "velk.elg"));
    if (saved) {
        ::setenv("XDG_STATE_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_STATE_HOME");
    }
}

}  // namespace
}  // namespace velk
