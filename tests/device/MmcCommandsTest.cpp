#include "engine/device/MmcCommands.h"

#include <gtest/gtest.h>

#include "engine/device/BigEndian.h"
#include "engine/device/DeviceOperations.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using testing::FakeDrive;
using testing::Reply;
using Bytes = std::vector<std::uint8_t>;

struct CdbCase {
    const char* name;
    std::function<int(RecorderDevice&)> send;
    Bytes cdb;
    std::uint8_t flags;
    std::uint32_t dataLength;
};

class MmcCommandsTest : public ::testing::Test {
protected:
    testing::DevicePtr device = testing::makeDevice();
    std::uint8_t scratch[65536] = {};
};

TEST_F(MmcCommandsTest, EveryCommandBuildsItsCdbDirectionAndLength) {
    std::uint8_t* b = scratch;
    const CdbCase cases[] = {
        {"TestUnitReady", [](RecorderDevice& d) { return mmc::TestUnitReady(d); }, {0x00, 0, 0, 0, 0, 0}, 0x40, 0},
        {"CheckUnit", [](RecorderDevice& d) { return mmc::CheckUnit(d); }, {0x00, 0, 0, 0, 0, 0}, 0x40, 0},
        {"RezeroUnit", [](RecorderDevice& d) { return mmc::RezeroUnit(d); }, {0x01, 0, 0, 0, 0, 0}, 0x40, 0},
        {"RequestSense", [b](RecorderDevice& d) { return mmc::RequestSense(d, b, 18); }, {0x03, 0, 0, 0, 18, 0}, 0x48, 18},
        {"FormatUnit", [b](RecorderDevice& d) { return mmc::FormatUnit(d, 0x11, b, 12); }, {0x04, 0x11, 0, 0, 0, 0}, 0x50, 12},
        {"Inquiry", [b](RecorderDevice& d) { return mmc::Inquiry(d, b); }, {0x12, 0, 0, 0, 32, 0}, 0x48, 32},
        {"LoadMedium", [](RecorderDevice& d) { return mmc::LoadMedium(d, 0); }, {0x1B, 0, 0, 0, 3, 0}, 0x40, 0},
        {"LoadMedium immediate", [](RecorderDevice& d) { return mmc::LoadMedium(d, 1); }, {0x1B, 1, 0, 0, 3, 0}, 0x40, 0},
        {"LockMedium", [](RecorderDevice& d) { return mmc::LockMedium(d); }, {0x1E, 0, 0, 0, 1, 0}, 0x40, 0},
        {"UnlockMedium", [](RecorderDevice& d) { return mmc::UnlockMedium(d); }, {0x1E, 0, 0, 0, 0, 0}, 0x40, 0},
        {"ReadFormatCapacities", [](RecorderDevice& d) { return static_cast<int>(mmc::ReadFormatCapacities(d)); },
         {0x23, 0, 0, 0, 0, 0, 0, 0, 28, 0}, 0x48, 28},
        {"Read10 of 16 blocks", [b](RecorderDevice& d) { return mmc::Read10(d, 0x12345678, 16, b); },
         {0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x00, 0x10, 0}, 0x48, 32768},
        {"Write10", [b](RecorderDevice& d) { return mmc::Write10(d, 0x00ABCDEF, 32, b, 65536); },
         {0x2A, 0, 0x00, 0xAB, 0xCD, 0xEF, 0, 0x00, 0x20, 0}, 0x50, 65536},
        {"SynchronizeCache", [](RecorderDevice& d) { return mmc::SynchronizeCache(d, 0); }, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"SynchronizeCache immediate", [](RecorderDevice& d) { return mmc::SynchronizeCache(d, 1); }, {0x35, 2, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"ReadTocPmaAtip ATIP", [b](RecorderDevice& d) { return mmc::ReadTocPmaAtip(d, 4, 1, 0, b, 30); },
         {0x43, 2, 4, 0, 0, 0, 0, 0, 30, 0}, 0x48, 30},
        // Only the low byte of the length goes into byte 8; byte 7 stays 0.
        {"ReadTocPmaAtip long", [b](RecorderDevice& d) { return mmc::ReadTocPmaAtip(d, 1, 0, 2, b, 0x1234); },
         {0x43, 0, 1, 0, 0, 0, 2, 0, 0x34, 0}, 0x48, 0x1234},
        {"GetConfiguration", [b](RecorderDevice& d) { return mmc::GetConfiguration(d, b, 112, 0x2A); },
         {0x46, 2, 0x00, 0x2A, 0, 0, 0, 0x00, 112, 0}, 0x48, 112},
        {"ReadDiscInformation", [b](RecorderDevice& d) { return mmc::ReadDiscInformation(d, b, 66); },
         {0x51, 0, 0, 0, 0, 0, 0, 0x00, 66, 0}, 0x48, 66},
        {"ReadTrackInformation", [](RecorderDevice& d) { return mmc::ReadTrackInformation(d, 0xFF); },
         {0x52, 1, 0, 0, 0, 0xFF, 0, 0, 96, 0}, 0x48, 96},
        {"ReserveTrack", [](RecorderDevice& d) { return mmc::ReserveTrack(d, 0x01020304); },
         {0x53, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0}, 0x40, 0},
        {"SendOpcInformation", [](RecorderDevice& d) { return mmc::SendOpcInformation(d); }, {0x54, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"ModeSelect10", [b](RecorderDevice& d) { return mmc::ModeSelect10(d, b, 0x3C); },
         {0x55, 0x10, 0, 0, 0, 0, 0, 0x00, 0x3C, 0}, 0x50, 0x3C},
        {"ModeSense10 current", [b](RecorderDevice& d) { return mmc::ModeSense10(d, b, 512, 0x05, 0); },
         {0x5A, 0, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}, 0x48, 512},
        {"ModeSense10 defaults", [b](RecorderDevice& d) { return mmc::ModeSense10(d, b, 128, 0x2A, 1); },
         {0x5A, 0, 0xAA, 0, 0, 0, 0, 0x00, 0x80, 0}, 0x48, 128},
        {"CloseTrackSession", [](RecorderDevice& d) { return mmc::CloseTrackSession(d, 1, 6, 3, 4, 5); },
         {0x5B, 1, 6, 3, 4, 5, 0, 0, 0, 0}, 0x40, 0},
        {"CloseLastTrackOrSession track", [](RecorderDevice& d) { return mmc::CloseLastTrackOrSession(d, 1, 1); },
         {0x5B, 1, 1, 0, 0, 0xFF, 0, 0, 0, 0}, 0x40, 0},
        {"CloseLastTrackOrSession session", [](RecorderDevice& d) { return mmc::CloseLastTrackOrSession(d, 0, 0); },
         {0x5B, 0, 2, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"ReadBufferCapacity", [](RecorderDevice& d) { return mmc::ReadBufferCapacity(d); },
         {0x5C, 0, 0, 0, 0, 0, 0, 0, 32, 0}, 0x48, 32},
        {"SendCueSheet", [b](RecorderDevice& d) { return mmc::SendCueSheet(d, b, 0x0123); },
         {0x5D, 0, 0, 0, 0, 0, 0, 0x01, 0x23, 0}, 0x50, 0x0123},
        {"Blank minimal", [](RecorderDevice& d) { return mmc::Blank(d, 1); }, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"Blank full", [](RecorderDevice& d) { return mmc::Blank(d, 0); }, {0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"GetPerformance", [b](RecorderDevice& d) { return mmc::GetPerformance(d, b, 256); },
         {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 5, 3, 0}, 0x48, 256},
        {"SetStreaming", [b](RecorderDevice& d) { return mmc::SetStreaming(d, b, 28); },
         {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 28, 0}, 0x50, 28},
        {"SetCdSpeed maximum", [](RecorderDevice& d) { return mmc::SetCdSpeed(d, 0, 0); },
         {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"SetCdSpeed given", [](RecorderDevice& d) { return mmc::SetCdSpeed(d, 0x1234, 0x0ABC); },
         {0xBB, 0, 0x12, 0x34, 0x0A, 0xBC, 0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"SendDvdStructure", [b](RecorderDevice& d) { return mmc::SendDvdStructure(d, 0x0F, b, 22); },
         {0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0x00, 22, 0, 0}, 0x50, 22},
    };
    for (const CdbCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device);
        EXPECT_EQ(c.send(*device), c.name == std::string("ReadFormatCapacities") ? 0 : 1);
        ASSERT_EQ(drive.sent.size(), 1u);
        const testing::SentCommand& sent = drive.sent[0];
        EXPECT_EQ(sent.cdb, c.cdb);
        EXPECT_EQ(sent.cdbLength, mmc::cdbLengthFor(c.cdb[0]));
        EXPECT_EQ(sent.flags, c.flags);
        EXPECT_EQ(sent.dataLength, c.dataLength);
        // The trace names and the command builders agree.
        EXPECT_NE(device->opcodeNames[c.cdb[0]][0], '\0');
    }
}

TEST_F(MmcCommandsTest, SuccessIsCompleteExceptWriteSyncAndBlankWhichAlsoTakeZero) {
    struct Case {
        const char* name;
        std::function<int(RecorderDevice&)> send;
        bool zeroCounts;
    };
    std::uint8_t* b = scratch;
    const Case cases[] = {
        {"TestUnitReady", [](RecorderDevice& d) { return mmc::TestUnitReady(d); }, false},
        {"Read10", [b](RecorderDevice& d) { return mmc::Read10(d, 0, 1, b); }, false},
        {"ModeSelect10", [b](RecorderDevice& d) { return mmc::ModeSelect10(d, b, 8); }, false},
        {"Write10", [b](RecorderDevice& d) { return mmc::Write10(d, 0, 1, b, 2048); }, true},
        {"SynchronizeCache", [](RecorderDevice& d) { return mmc::SynchronizeCache(d, 1); }, true},
        {"Blank", [](RecorderDevice& d) { return mmc::Blank(d, 1); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device);
        Reply zero;
        zero.finalStatus = 0;
        drive.respond = [&](const testing::SentCommand&) { return std::optional<Reply>(zero); };
        EXPECT_EQ(c.send(*device), c.zeroCounts ? 1 : 0);
        drive.respond = [](const testing::SentCommand&) {
            return std::optional<Reply>(testing::checkCondition(5, 0x24, 0));
        };
        EXPECT_EQ(c.send(*device), 0);
        drive.respond = nullptr;
        EXPECT_EQ(c.send(*device), 1);
    }
}

TEST_F(MmcCommandsTest, EjectSynchronisesAndUnlocksWhateverTheyAnswerThenEjects) {
    FakeDrive drive(*device);
    drive.on(0x35, testing::checkCondition(2, 0x3A, 0));
    drive.on(0x1E, testing::checkCondition(5, 0x24, 0));
    EXPECT_EQ(device::Eject(*device), 1);
    EXPECT_EQ(drive.opcodes(), (Bytes{0x35, 0x1E, 0x1B}));
    EXPECT_EQ(drive.sent[0].cdb[1], 0);  // no Immed on the cache flush
    EXPECT_EQ(drive.sent[2].cdb, (Bytes{0x1B, 0, 0, 0, 2, 0}));

    drive.on(0x1B, testing::checkCondition(2, 0x53, 0x02));
    EXPECT_EQ(device::Eject(*device), 0);
}

TEST_F(MmcCommandsTest, CheckUnitAnswersOneEvenWhenTheDriveIsNotReady) {
    FakeDrive drive(*device);
    drive.on(0x00, testing::checkCondition(2, 0x3A, 0));
    EXPECT_EQ(device::CheckUnit(*device), 1);
    EXPECT_EQ(device::TestUnitReady(*device), 0);
}

Bytes formatCapacities(std::uint8_t listLength, std::initializer_list<std::array<std::uint32_t, 3>> descriptors) {
    Bytes response(4, 0);
    response[3] = listLength;
    for (const auto& d : descriptors) {
        std::uint8_t bytes[8];
        device::putBe32(bytes, d[0]);
        bytes[4] = static_cast<std::uint8_t>(d[1]);
        device::putBe24(bytes + 5, d[2]);
        response.insert(response.end(), bytes, bytes + 8);
    }
    response.resize(28, 0);
    return response;
}

TEST_F(MmcCommandsTest, ReadFormatCapacitiesPicksTheFirstFormattedDescriptorOf2048ByteBlocks) {
    struct Case {
        const char* name;
        Bytes response;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"first matches", formatCapacities(24, {{2295104, 0, 2048}, {100, 0, 2048}, {7, 0, 2048}}), 2295104},
        {"second matches after an unformatted first",
         formatCapacities(24, {{2295104, 2, 2048}, {2236704, 0, 2048}, {7, 0, 2048}}), 2236704},
        {"third matches", formatCapacities(24, {{1, 3, 2048}, {2, 0, 512}, {3, 0, 2048}}), 3},
        {"none matches: the first", formatCapacities(24, {{11, 2, 2048}, {12, 1, 2048}, {13, 0, 4096}}), 11},
        // A descriptor that the capacity list length does not name is not read.
        {"list length names one descriptor", formatCapacities(8, {{11, 2, 2048}, {12, 0, 2048}}), 11},
        {"empty list", formatCapacities(0, {{11, 0, 2048}}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device);
        Reply reply;
        reply.data = c.response;
        drive.on(0x23, reply);
        EXPECT_EQ(mmc::ReadFormatCapacities(*device), c.expected);
    }
    FakeDrive drive(*device);
    drive.on(0x23, testing::checkCondition(2, 0x3A, 0));
    EXPECT_EQ(mmc::ReadFormatCapacities(*device), 0u);
}

TEST_F(MmcCommandsTest, ReadFormatCapacitiesReadsOnlyTheDescriptorsTheDriveSent) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    // The list length claims three descriptors but only the first arrived;
    // what lies in the buffer beyond the transfer is not the drive's answer.
    Reply reply;
    reply.data = formatCapacities(24, {{5, 2, 2048}, {999, 0, 2048}});
    reply.transferred = 12;
    drive.on(0x23, reply);
    EXPECT_EQ(mmc::ReadFormatCapacities(*device), 5u);
}

Bytes bufferCapacity(std::uint16_t dataLength, std::uint32_t length, std::uint32_t blank) {
    Bytes data(12, 0);
    device::putBe16(data.data(), dataLength);
    device::putBe32(data.data() + 4, length);
    device::putBe32(data.data() + 8, blank);
    return data;
}

TEST_F(MmcCommandsTest, ReadBufferCapacityConvertsLengthAndBlankToBytes) {
    FakeDrive drive(*device);
    Reply reply;
    reply.data = bufferCapacity(10, 0x00200000, 0x00080000);
    drive.on(0x5C, reply);
    EXPECT_EQ(mmc::ReadBufferCapacity(*device), 1);
    EXPECT_EQ(device->bufferLength.load(), 2097152u);
    EXPECT_EQ(device->bufferBlank.load(), 524288u);
    EXPECT_EQ(device::GetDriveBufferSize(*device), 2097152u);
    EXPECT_EQ(device::GetDriveBufferUsed(*device), 1572864u);
}

// Only a good answer holding both fields replaces the values; after any
// other the gauge keeps showing the last good answer instead of an empty
// buffer or bytes the drive never sent.
TEST_F(MmcCommandsTest, ReadBufferCapacityKeepsTheLastValuesAfterAFailedOrShortAnswer) {
    struct Case {
        const char* name;
        Reply reply;
        int result;
    };
    Reply refused = testing::checkCondition(5, 0x24, 0);
    refused.data = bufferCapacity(10, 0x1000, 0x800);  // whatever lies in the buffer
    Reply shortTransfer;
    shortTransfer.data = bufferCapacity(10, 0x1000, 0x800);
    shortTransfer.transferred = 8;  // the blank length never arrived
    Reply shortDeclared;
    shortDeclared.data = bufferCapacity(6, 0x1000, 0x800);  // the drive says 8 bytes in all
    const Case cases[] = {
        {"refused", refused, 0},
        {"eight bytes moved", shortTransfer, 1},
        {"data length of eight bytes", shortDeclared, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
        device->bufferLength = 2097152;
        device->bufferBlank = 524288;
        drive.on(0x5C, c.reply);
        EXPECT_EQ(mmc::ReadBufferCapacity(*device), c.result);
        EXPECT_EQ(device->bufferLength.load(), 2097152u);
        EXPECT_EQ(device->bufferBlank.load(), 524288u);
    }
}

TEST_F(MmcCommandsTest, DriveBufferUsedIsNeverBelowZero) {
    FakeDrive drive(*device);
    Reply reply;
    reply.data = bufferCapacity(10, 0x1000, 0x1001);
    drive.on(0x5C, reply);
    EXPECT_EQ(mmc::ReadBufferCapacity(*device), 1);
    EXPECT_EQ(device::GetDriveBufferSize(*device), 0x1000u);
    EXPECT_EQ(device::GetDriveBufferUsed(*device), 0u);
}

TEST_F(MmcCommandsTest, ReadTrackInformationConvertsItsAddressFieldsToHostOrder) {
    FakeDrive drive(*device);
    Reply reply;
    reply.data = Bytes(96, 0);
    std::uint8_t* r = reply.data.data();
    device::putBe16(r + 0, 46);
    r[2] = 3;
    r[3] = 2;
    r[6] = 0x10;
    const std::size_t fields[] = {8, 12, 16, 20, 24, 28};
    for (std::size_t i = 0; i < 6; ++i) device::putBe32(r + fields[i], 0x01020300u + static_cast<std::uint32_t>(i));
    drive.on(0x52, reply);
    ASSERT_EQ(mmc::ReadTrackInformation(*device, 3), 1);
    EXPECT_EQ(device::getHost16(device->trackInfo + mmc::TrackDataLength), 46);
    EXPECT_EQ(device->trackInfo[mmc::TrackNumber], 3);
    EXPECT_EQ(device->trackInfo[mmc::TrackSessionNumber], 2);
    EXPECT_EQ(device->trackInfo[mmc::TrackFlags], 0x10);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackStartAddress), 0x01020300u);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackNextWritable), 0x01020301u);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackFreeBlocks), 0x01020302u);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackFixedPacketSize), 0x01020303u);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackSize), 0x01020304u);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackLastRecorded), 0x01020305u);
}

TEST_F(MmcCommandsTest, SetStreamingPerformanceAndDvdTimestampParameterLists) {
    FakeDrive drive(*device);
    EXPECT_EQ(mmc::SetStreamingPerformance(*device, 777, 0x00112233, 0x1000, 0x2000, 1000, 1000), 1);
    const testing::SentCommand* streaming = drive.last(0xB6);
    ASSERT_NE(streaming, nullptr);
    EXPECT_EQ(streaming->dataOut, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x11, 0x22, 0x33, 0, 0, 0x10, 0x00,
                                         0, 0, 0x03, 0xE8, 0, 0, 0x20, 0x00, 0, 0, 0x03, 0xE8}));

    EXPECT_EQ(mmc::SendDvdTimestamp(*device), 1);
    const testing::SentCommand* stamp = drive.last(0xBF);
    ASSERT_NE(stamp, nullptr);
    ASSERT_EQ(stamp->dataOut.size(), 22u);
    EXPECT_EQ(Bytes(stamp->dataOut.begin(), stamp->dataOut.begin() + 8), (Bytes{0, 0x14, 0, 0, 0, 0, 0, 0}));
    for (std::size_t i = 8; i < 22; ++i) EXPECT_TRUE(std::isdigit(stamp->dataOut[i])) << i;
}

}  // namespace
}  // namespace velk
