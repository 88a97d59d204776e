#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <scsi/sg.h>

#include "engine/device/BigEndian.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/ExecuteCdb.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/Transports.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using testing::FakeDrive;
using testing::Reply;
using Bytes = std::vector<std::uint8_t>;

class PassThroughTest : public ::testing::Test {
protected:
    testing::DevicePtr device = testing::makeDevice();
};

TEST_F(PassThroughTest, RequestMapsOntoSgIo) {
    struct Case {
        const char* name;
        std::uint8_t flags;
        std::uint32_t length;
        int direction;
    };
    const Case cases[] = {
        {"no data", SrbFlagsNoData, 0, SG_DXFER_NONE},
        {"data in", SrbFlagsRead, 96, SG_DXFER_FROM_DEV},
        {"data out", SrbFlagsWrite, 2048, SG_DXFER_TO_DEV},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
        ScsiRequestBlock request{};
        request.flags = c.flags;
        request.dataLength = c.length;
        request.dataBuffer = c.length ? device->dataBuffer : nullptr;
        request.cdbLength = 10;
        request.cdb[0] = 0x28;
        request.cdb[9] = 0x77;
        EXPECT_EQ(device::ExecuteCdb(*device, request), SrbComplete);
        EXPECT_EQ(drive.lastSgIo.direction, c.direction);
        EXPECT_EQ(drive.lastSgIo.dxferLength, c.length);
        EXPECT_EQ(drive.lastSgIo.dxferp, c.length ? static_cast<void*>(device->dataBuffer) : nullptr);
        EXPECT_EQ(drive.lastSgIo.mxSbLen, 24);
        EXPECT_EQ(drive.lastSgIo.timeout, 120000u);
        EXPECT_EQ(drive.lastSgIo.cmdLen, 10);
        ASSERT_EQ(drive.sent.size(), 1u);
        EXPECT_EQ(drive.sent[0].cdb, (Bytes{0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0x77}));
        EXPECT_EQ(device->lastOsError, 0u);
    }
}

TEST_F(PassThroughTest, CheckConditionBringsStatusAndSenseBack) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    drive.on(0x00, testing::checkCondition(2, 0x3A, 0x01));
    ScsiRequestBlock request{};
    request.flags = SrbFlagsNoData;
    request.cdbLength = 6;
    EXPECT_EQ(device::ExecuteCdb(*device, request), SrbError);
    EXPECT_EQ(request.status, SrbError);
    EXPECT_EQ(request.targetStatus, ScsiStatusCheckCondition);
    EXPECT_EQ(request.sense[2], 2);
    EXPECT_EQ(request.sense[12], 0x3A);
    EXPECT_EQ(request.sense[13], 0x01);
    EXPECT_EQ(device->lastOsError, 0u);
    EXPECT_EQ(device->lastErrorCode.load(), 0x3A01);
}

TEST_F(PassThroughTest, TransportFailuresCarryTheOsErrorAndNoSense) {
    struct Case {
        const char* name;
        int ioctlErrno;
        bool hostError;
        std::uint32_t osError;
    };
    const Case cases[] = {
        {"ioctl fails", ENODEV, false, ENODEV},
        {"host adapter error", 0, true, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
        drive.failIoctlWith = c.ioctlErrno;
        drive.hostError = c.hostError;
        device->lastErrorCode = 0;
        EXPECT_EQ(device::TestUnitReady(*device), 0);
        EXPECT_EQ(device->lastOsError, c.osError);
        EXPECT_EQ(device->lastSense[12], 0);
        EXPECT_EQ(device->lastErrorCode.load(), 0);
    }
}

TEST_F(PassThroughTest, DriveThatCannotBeOpenedFailsWithItsErrnoAndIsTriedAgain) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    device->driveLetter = 'H';  // no node sr5 in the tree
    ScsiRequestBlock request{};
    request.flags = SrbFlagsNoData;
    request.cdbLength = 6;
    EXPECT_EQ(device::ExecuteCdb(*device, request), SrbError);
    EXPECT_EQ(request.targetStatus, 0);
    EXPECT_EQ(device->lastOsError, static_cast<std::uint32_t>(ENOENT));
    EXPECT_TRUE(drive.sent.empty());
    EXPECT_EQ(device->deviceHandle, -1);

    drive.tree().file("dev/sr5");
    EXPECT_EQ(device::TestUnitReady(*device), 1);
    EXPECT_EQ(drive.sent.size(), 1u);
}

TEST_F(PassThroughTest, CloseAfterCommandOpensAndClosesTheNodeForEachCommand) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    device->closeAfterCommand = 1;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(device::TestUnitReady(*device), 1);
        EXPECT_GE(drive.lastSgIo.handle, 0);
        EXPECT_EQ(device->deviceHandle, -1);
    }
    device->closeAfterCommand = 0;
    EXPECT_EQ(device::TestUnitReady(*device), 1);
    int kept = device->deviceHandle;
    EXPECT_GE(kept, 0);
    EXPECT_EQ(device::TestUnitReady(*device), 1);
    EXPECT_EQ(drive.lastSgIo.handle, kept);
    EXPECT_EQ(device->deviceHandle, kept);
}

TEST_F(PassThroughTest, ReadTrackInformationKeepsNoBytesTheDriveDidNotSend) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    Reply reply;
    reply.data = Bytes(96, 0xEE);
    reply.transferred = 20;  // start, next writable and free blocks arrive
    drive.on(0x52, reply);
    ASSERT_EQ(mmc::ReadTrackInformation(*device, 1), 1);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackFreeBlocks), 0xEEEEEEEEu);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackSize), 0u);
    EXPECT_EQ(device::getHost32(device->trackInfo + mmc::TrackLastRecorded), 0u);
}

// Runs against the machine's own optical drive when there is one.
TEST(RealDrive, InquiryAndTestUnitReadyThroughSgIo) {
    bool present = false;
    for (int i = 0; i < 24 && !present; ++i) {
        std::ifstream type("/sys/class/block/sr" + std::to_string(i) + "/device/type");
        int value = -1;
        present = (type >> value) && value == 5;
    }
    if (!present) GTEST_SKIP() << "no optical drive on this machine";
    testing::DevicePtr device = testing::makeDevice();
    device->closeAfterCommand = 1;
    if (device::Initialise(*device, 0, nullptr, 0, nullptr) != 1 || device->sptiMode != 1) {
        GTEST_SKIP() << "the optical drive cannot be opened (permissions)";
    }
    ASSERT_GT(device::GetDeviceCount(*device), 0);
    EXPECT_EQ(device::SelectByIndex(*device, 0), 1);
    EXPECT_NE(device->vendorId[0], 0);
    (void)device::TestUnitReady(*device);  // with or without a disc
    EXPECT_EQ(device->deviceHandle, -1);
}

}  // namespace
}  // namespace velk
