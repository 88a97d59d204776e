#include "engine/device/ExecuteCdb.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/api/BurnEngine.h"
#include "engine/core/TraceLog.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/image/ImageProject.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using testing::FakeDrive;
using testing::Reply;
using Bytes = std::vector<std::uint8_t>;

platform::SystemTime fixedTime() {
    platform::SystemTime time;
    time.minute = 34;
    time.second = 7;
    time.millisecond = 123;
    return time;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string banner() { return std::string("Version : ") + trace::versionText() + " \n"; }

class TraceLineTest : public ::testing::Test {
protected:
    void SetUp() override { device::setTraceClock(&fixedTime); }
    void TearDown() override {
        device::setTraceClock(nullptr);
        trace::close();
    }
    // Opens a fresh log, runs `body`, closes the log and returns its lines
    // after the banner.
    template <typename Body>
    std::string traced(Body body) {
        std::string path = dir.str() + "/trace.elg";
        EXPECT_TRUE(trace::open(path));
        body();
        trace::close();
        std::string text = readFile(path);
        EXPECT_EQ(text.substr(0, banner().size()), banner());
        return text.substr(banner().size());
    }
    testing::DevicePtr device = testing::makeDevice();
    testing::TempDir dir;
};

TEST_F(TraceLineTest, TestUnitReadyThroughThePassThroughTransport) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    device->adapterId = 1;
    device->targetId = 0;
    device->lun = 0;
    std::string lines = traced([&] { EXPECT_EQ(mmc::TestUnitReady(*device), 1); });
    EXPECT_EQ(lines,
              "34:07:123 TEST UNIT READY        (00) {40:06} - 1:0:0 <01> [00000] 00 00 00 00 00 00 00 00 00 "
              "00 00 00 00 00 00 | 00:00, 0\n");
}

TEST_F(TraceLineTest, ReadOf300BytesDumpsTheFirst100) {
    FakeDrive drive(*device);
    Reply reply;
    for (int i = 0; i < 300; ++i) reply.data.push_back(static_cast<std::uint8_t>(i));
    drive.on(0x51, reply);
    device->adapterId = 0;
    device->targetId = 3;
    device->lun = 0;
    alignas(4) static std::uint8_t buffer[300];
    std::string lines = traced([&] { EXPECT_EQ(mmc::ReadDiscInformation(*device, buffer, 300), 1); });
    std::string expected = "34:07:123 READ DISC INFORMATION  (51) {48:0a} - 0:3:0 <01> [0012c] 00 00 00 00 00 00 01 2c 00 "
                           "00 00 00 00 00 00 | ";
    char hex[4];
    for (int i = 0; i < 100; ++i) {
        std::snprintf(hex, sizeof hex, "%02x ", i);
        expected += hex;
    }
    expected += "00:00\n";  // the ASPI-style transport has no OS error field
    EXPECT_EQ(lines, expected);
}

TEST_F(TraceLineTest, UnnamedOpcodeLeavesTheNameFieldEmpty) {
    FakeDrive drive(*device);
    drive.on(0x02, testing::checkCondition(5, 0x20, 0x00));
    device->adapterId = device->targetId = device->lun = 0;
    std::string lines = traced([&] {
        ScsiRequestBlock request{};
        request.flags = SrbFlagsNoData;
        request.cdbLength = 6;
        request.cdb[0] = 0x02;
        EXPECT_EQ(device::ExecuteCdb(*device, request), SrbError);
    });
    EXPECT_EQ(lines,
              "34:07:123  (02) {40:06} - 0:0:0 <04> [00000] 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 20:00\n");
}

TEST_F(TraceLineTest, BufferAddressNotAMultipleOf4IsPrefixed) {
    FakeDrive drive(*device);
    device->adapterId = device->targetId = device->lun = 0;
    alignas(4) static std::uint8_t buffer[4096];
    std::uint8_t* odd = buffer + 1;
    std::string lines = traced([&] {
        EXPECT_EQ(mmc::Write10(*device, 0, 1, odd, 2), 1);
        EXPECT_EQ(mmc::Write10(*device, 0, 1, buffer, 2), 1);
    });
    std::string prefix = "---> " + std::to_string(reinterpret_cast<std::intptr_t>(odd)) + " 34:07:123 WRITE (10) ";
    std::size_t second = lines.find('\n') + 1;
    EXPECT_EQ(lines.substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines.substr(second, 20), "34:07:123 WRITE (10)");
}

TEST_F(TraceLineTest, FullDataBufferAtAnAlignedAddressHasNoPrefix) {
    FakeDrive drive(*device);
    std::string lines = traced([&] { EXPECT_EQ(mmc::Write10(*device, 0, 32, device->dataBuffer, 65536), 1); });
    EXPECT_EQ(lines.substr(0, 9), "34:07:123");
    EXPECT_NE(lines.find("[10000]"), std::string::npos);
}

TEST(TraceBanner, BannerAndVersionTextCarryTheSameCharacters) {
    std::string version = trace::versionText();
    EXPECT_EQ(version.substr(0, 4), "1.21");
    EXPECT_EQ(version.substr(version.size() - 19), "(Date: Nov 11 2005)");
    BurnEngine engine;
    EXPECT_EQ(std::string(engine.GetVersion()), version);
    testing::TempDir dir;
    ASSERT_TRUE(trace::open(dir.str() + "/log"));
    trace::close();
    EXPECT_EQ(readFile(dir.str() + "/log"), "Version : " + version + " \n");
}

class ErrorLatchTest : public ::testing::Test {
protected:
    BurnEngine engine;
    RecorderDevice& device = engine.device();
};

TEST_F(ErrorLatchTest, SenseCodesBecomeAscTimes256PlusAscq) {
    struct Case {
        std::uint8_t key, asc, ascq;
        int code;
    };
    const Case cases[] = {{5, 0x24, 0x00, 9216}, {2, 0x3A, 0x00, 14848}, {5, 0x30, 0x05, 12293}, {2, 0x04, 0x01, 1025}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        FakeDrive drive(device);
        drive.on(0x00, testing::checkCondition(c.key, c.asc, c.ascq));
        EXPECT_EQ(device::TestUnitReady(device), 0);
        EXPECT_EQ(device.lastSense[12], c.asc);
        EXPECT_EQ(device.lastSense[13], c.ascq);
        EXPECT_EQ(engine.GetLastErrorCode(), c.code);
        EXPECT_EQ(engine.GetLastErrorCode(), 0);  // read and cleared
    }
}

TEST_F(ErrorLatchTest, HardwareErrorTexts) {
    FakeDrive drive(device);
    drive.on(0x5A, testing::checkCondition(5, 0x24, 0x00));
    std::uint8_t buffer[128];
    EXPECT_EQ(mmc::ModeSense10(device, buffer, 128, 0x2A, 0), 0);
    EXPECT_STREQ(engine.GetLastErrorText(), "Hardware Error 9216");
    EXPECT_EQ(device::TestUnitReady(device), 1);
    drive.on(0x5A, testing::checkCondition(5, 0x24, 0x00));
    EXPECT_EQ(mmc::ModeSense10(device, buffer, 128, 0x2A, 0), 0);
    EXPECT_EQ(std::u16string(engine.GetLastErrorTextW()), u"Hardware Error \"9216\"");
}

TEST_F(ErrorLatchTest, AscZeroAndSuccessLeaveTheCodeAlone) {
    FakeDrive drive(device);
    drive.on(0x00, testing::checkCondition(2, 0x3A, 0));
    EXPECT_EQ(device::TestUnitReady(device), 0);
    drive.on(0x00, testing::checkCondition(6, 0x00, 0));  // failed, but ASC 0
    EXPECT_EQ(device::TestUnitReady(device), 0);
    drive.on(0x00, Reply{});
    EXPECT_EQ(device::TestUnitReady(device), 1);
    EXPECT_EQ(device.lastSense[12], 0);
    EXPECT_EQ(engine.GetLastErrorCode(), 14848);
}

TEST_F(ErrorLatchTest, SuppressedCodeStaysWhileLastSenseFollowsTheDrive) {
    FakeDrive drive(device);
    drive.on(0x00, testing::checkCondition(2, 0x04, 0x01));
    EXPECT_EQ(device::TestUnitReady(device), 0);
    device.suppressErrorCode = 1;
    drive.on(0x5A, testing::checkCondition(5, 0x24, 0x00));
    std::uint8_t buffer[128];
    EXPECT_EQ(mmc::ModeSense10(device, buffer, 128, 0x2A, 0), 0);
    EXPECT_EQ(device.lastSense[12], 0x24);
    EXPECT_EQ(engine.GetLastErrorCode(), 1025);
}

TEST_F(ErrorLatchTest, ProjectCodesWinOverTheHardwareCode) {
    FakeDrive drive(device);
    drive.on(0x00, testing::checkCondition(5, 0x24, 0x00));
    EXPECT_EQ(device::TestUnitReady(device), 0);
    engine.project().pendingError = ErrAborted;
    EXPECT_EQ(engine.GetLastErrorCode(), ErrAborted);
    EXPECT_EQ(engine.GetLastErrorCode(), 9216);
}

// Regression: BUSY was seen only when the transport refused the request at
// submission, so a drive served through completion events (the ASPI-style
// plugin) answering BUSY failed a burn instead of being retried.
TEST_F(ErrorLatchTest, BusyWhetherRefusedAtSubmissionOrCompletedLater) {
    FakeDrive drive(device);
    Reply refused;
    refused.scsiStatus = ScsiStatusBusy;
    refused.aspiReturn = SrbError;
    drive.on(0x00, refused);
    EXPECT_EQ(device::TestUnitReady(device), 0);
    EXPECT_EQ(device.busy, 1);

    Reply pendingBusy;
    pendingBusy.scsiStatus = ScsiStatusBusy;
    pendingBusy.pending = true;
    drive.on(0x00, pendingBusy);
    EXPECT_EQ(device::TestUnitReady(device), 0);
    EXPECT_EQ(device.busy, 1);

    drive.on(0x00, refused);
    EXPECT_EQ(device::TestUnitReady(device), 0);
    Reply pendingGood;
    pendingGood.pending = true;
    drive.on(0x00, pendingGood);
    EXPECT_EQ(device::TestUnitReady(device), 1);
    EXPECT_EQ(device.busy, 0);
}

TEST_F(ErrorLatchTest, RequestCarriesTheSelectedAddressAndSenseLength) {
    FakeDrive drive(device);
    device.adapterId = 2;
    device.targetId = 5;
    device.lun = 1;
    ScsiRequestBlock request{};
    request.flags = SrbFlagsNoData;
    request.cdbLength = 6;
    EXPECT_EQ(device::ExecuteCdb(device, request), SrbComplete);
    EXPECT_EQ(request.commandCode, SrbExecuteCommand);
    EXPECT_EQ(request.adapter, 2);
    EXPECT_EQ(request.target, 5);
    EXPECT_EQ(request.lun, 1);
    EXPECT_EQ(request.senseLength, 24);
}

}  // namespace
}  // namespace velk

namespace velk {
namespace {

// The log that Initialise opens also takes the lines of the project: one per
// inserted file and the image size of the plan.
TEST(TraceLogOfTheProject, InsertionAndPlanningLinesFollowTheBanner) {
    testing::TempDir dir;
    std::string source = dir.file("src/readme.txt", std::string(5000, 'x'));
    std::string log = dir.str() + "/project.elg";
    BurnEngine engine;
    std::string missing = dir.str() + "/no-library.so";
    std::snprintf(engine.device().sysfsRoot, sizeof engine.device().sysfsRoot, "%s", dir.folder("sys").c_str());
    (void)engine.Initialise(0, missing.c_str(), 0, log.c_str());
    ASSERT_TRUE(trace::isOpen());
    ASSERT_NE(engine.AddFile("\\", source.c_str()), nullptr);
    ASSERT_NE(engine.PrepareImage(), 0);
    trace::close();
    std::string text = readFile(log);
    char insertion[256];
    std::snprintf(insertion, sizeof insertion, "%64s - %10u - ", "readme.txt", 5000u);
    EXPECT_NE(text.find(insertion), std::string::npos) << text;
    EXPECT_NE(text.find("Image Size "), std::string::npos) << text;
    EXPECT_EQ(text.substr(0, banner().size()), banner());
}

}  // namespace
}  // namespace velk
