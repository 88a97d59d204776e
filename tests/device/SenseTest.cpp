// Sense data as real drives return it, and what the command path makes of
// it: both formats, unit attentions, recovered and deferred errors, and
// commands that never reached the drive.
#include "engine/device/Sense.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/api/BurnEngine.h"
#include "engine/api/ErrorTexts.h"
#include "engine/core/TraceLog.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/ExecuteCdb.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderClaim.h"
#include "engine/jobs/RecorderWaits.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using testing::FakeDrive;
using testing::Reply;
using Bytes = std::vector<std::uint8_t>;

TEST(SenseParserTest, FixedAndDescriptorFormatsReadAlike) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::uint8_t key, asc, ascq;
        bool descriptor, deferred;
        std::optional<std::uint16_t> progress;
    };
    const Case cases[] = {
        {"fixed", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0}, 5, 0x24, 0, false, false, {}},
        {"fixed deferred", {0xF1, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x0C, 0x00, 0, 0, 0, 0}, 3, 0x0C, 0, false, true, {}},
        {"fixed with progress",
         {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x04, 0, 0x80, 0x40, 0x00},
         2, 0x04, 0x04, false, false, 0x4000},
        {"progress field not valid", {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x04, 0, 0x00, 0x40, 0}, 2, 4, 4,
         false, false, {}},
        {"descriptor", {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0}, 5, 0x24, 0, true, false, {}},
        {"descriptor deferred", {0x73, 0x03, 0x0C, 0x00, 0, 0, 0, 0}, 3, 0x0C, 0, true, true, {}},
        {"descriptor with progress after another descriptor",
         {0x72, 0x02, 0x04, 0x07, 0, 0, 0, 20, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x06, 0, 0, 0x80,
          0x12, 0x34, 0},
         2, 0x04, 0x07, true, false, 0x1234},
        {"descriptor cut short by the additional length",
         {0x72, 0x02, 0x04, 0x07, 0, 0, 0, 4, 0x02, 0x06, 0, 0, 0x80, 0x12, 0x34, 0}, 2, 4, 7, true, false, {}},
        {"legacy drive leaving byte 0 empty", {0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x00}, 5, 0x20, 0, false,
         false, {}},
        {"fixed cut before the ASC", {0x70, 0, 0x06, 0, 0, 0, 0, 10}, 6, 0, 0, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device::SenseData s = device::parseSense(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(s.key, c.key);
        EXPECT_EQ(s.asc, c.asc);
        EXPECT_EQ(s.ascq, c.ascq);
        EXPECT_EQ(s.descriptor, c.descriptor);
        EXPECT_EQ(s.deferred, c.deferred);
        EXPECT_EQ(s.progress, c.progress);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SenseAnswerTest : public ::testing::Test {
protected:
    void TearDown() override { trace::close(); }
    // The trace log of `body`, banner and all.
    template <typename Body>
    std::string traced(Body body) {
        std::string path = dir.str() + "/trace.elg";
        EXPECT_TRUE(trace::open(path));
        body();
        trace::close();
        return readFile(path);
    }
    BurnEngine engine;
    RecorderDevice& device = engine.device();
    testing::TempDir dir;
};

// Regression: a unit attention pending after a disc change or a reset was
// the answer to whichever command came first (the MODE SENSE of page 2Ah),
// and that command's answer was lost.
TEST_F(SenseAnswerTest, UnitAttentionSendsTheCommandAgain) {
    FakeDrive drive(device);
    int attentions = 1;
    drive.respond = [&](const testing::SentCommand&) -> std::optional<Reply> {
        if (attentions-- > 0) return testing::checkCondition(6, 0x28, 0x00);
        return std::nullopt;
    };
    std::string log = traced([&] { EXPECT_EQ(device::TestUnitReady(device), 1); });
    EXPECT_EQ(drive.sent.size(), 2u);
    EXPECT_EQ(device.lastSense[12], 0);
    EXPECT_EQ(engine.GetLastErrorCode(), 0);
    EXPECT_NE(log.find("unit attention 06/28/00: TEST UNIT READY sent again"), std::string::npos) << log;

    // A drive that keeps answering so is not asked for ever.
    drive.sent.clear();
    attentions = 100;
    EXPECT_EQ(device::TestUnitReady(device), 0);
    EXPECT_EQ(drive.sent.size(), 4u);
    EXPECT_EQ(engine.GetLastErrorCode(), 0x2800);
}

// Regression: a recovered error (key 1) failed a command the drive had
// carried out.
TEST_F(SenseAnswerTest, RecoveredErrorIsASuccessWithATraceLine) {
    FakeDrive drive(device);
    Reply recovered = testing::checkCondition(1, 0x17, 0x01);
    recovered.data = {0, 32, 0x0E};
    drive.on(0x51, recovered);
    std::uint8_t info[34] = {};
    std::string log = traced([&] { EXPECT_EQ(mmc::ReadDiscInformation(device, info, sizeof info), 1); });
    EXPECT_EQ(info[2], 0x0E);
    EXPECT_EQ(jobs::lastAsc(device), 0);
    EXPECT_EQ(engine.GetLastErrorCode(), 0);
    EXPECT_NE(log.find("recovered error 01/17/01: taken as success"), std::string::npos) << log;
}

TEST_F(SenseAnswerTest, DescriptorSenseGivesTheSameCodesAsFixed) {
    FakeDrive drive(device);
    Reply refused;
    refused.scsiStatus = ScsiStatusCheckCondition;
    refused.sense = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0};
    drive.on(0x5A, refused);
    std::uint8_t page[64];
    std::string log = traced([&] { EXPECT_EQ(mmc::ModeSense10(device, page, sizeof page, 0x2A, 0), 0); });
    EXPECT_EQ(jobs::lastAsc(device), 0x24);
    EXPECT_EQ(log.substr(log.size() - 7), " 24:00\n") << log;
    EXPECT_EQ(engine.GetLastErrorCode(), 9216);

    // Becoming ready, in descriptor format, is waited out like the fixed one.
    drive.on(0x00, Reply{});
    Reply becoming;
    becoming.scsiStatus = ScsiStatusCheckCondition;
    becoming.sense = {0x72, 0x02, 0x04, 0x01, 0, 0, 0, 0};
    int answers = 2;
    drive.respond = [&](const testing::SentCommand& c) -> std::optional<Reply> {
        if (c.opcode() == 0x00 && answers-- > 0) return becoming;
        return std::nullopt;
    };
    device.pollTimeScale = 1e6;
    drive.sent.clear();
    EXPECT_TRUE(jobs::waitWhileBecomingReady(device));
    EXPECT_EQ(drive.sent.size(), 3u);
    EXPECT_EQ(engine.GetLastErrorCode(), 0) << "the wait's own answers are no error";
}

TEST_F(SenseAnswerTest, BecomingReadyIsWaitedForUpToThirtySecondsOfTheRecordersTime) {
    FakeDrive drive(device);
    drive.on(0x00, testing::checkCondition(2, 0x04, 0x01));
    device.pollTimeScale = 1e6;
    EXPECT_FALSE(jobs::waitWhileBecomingReady(device));
    // One at once, then one per 5-second poll.
    EXPECT_EQ(drive.sent.size(), 1u + 30 / 5);
    // Any other answer ends the wait at once, a missing disc included.
    drive.sent.clear();
    drive.on(0x00, testing::checkCondition(2, 0x3A, 0x00));
    EXPECT_TRUE(jobs::waitWhileBecomingReady(device));
    EXPECT_EQ(drive.sent.size(), 1u);
}

// Regression: a deferred error (of data an earlier command left in the
// drive's cache) was taken for the answer of the command it came with, and
// forgotten.
TEST_F(SenseAnswerTest, DeferredErrorIsKeptForTheJobThatHoldsTheRecorder) {
    FakeDrive drive(device);
    ASSERT_TRUE(device::claimRecorder(device, false));
    Reply deferred;
    deferred.scsiStatus = ScsiStatusCheckCondition;
    deferred.sense = {0x71, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x0C, 0x00, 0, 0, 0, 0};
    drive.on(0x35, deferred);
    std::string log = traced([&] { EXPECT_EQ(mmc::SynchronizeCache(device, 0), 0); });
    EXPECT_NE(log.find("deferred error 03/0c/00 of an earlier command"), std::string::npos) << log;
    device.suppressErrorCode = 1;  // as during a job
    drive.on(0x35, Reply{});
    EXPECT_EQ(mmc::SynchronizeCache(device, 0), 1);
    EXPECT_TRUE(jobs::reportDeferredError(device));
    EXPECT_EQ(engine.GetLastErrorCode(), 3072);
    EXPECT_FALSE(jobs::reportDeferredError(device)) << "reported once";
    device::releaseRecorder(device);
}

// Regression: a command that never reached the drive left no code, and the
// failure was reported as a hardware error of code 0.
TEST_F(SenseAnswerTest, TransportFailureIsNamedWithWhatTheHostSaid) {
    struct Case {
        const char* name;
        FakeDrive::Transport transport;
        bool hostError;
        int ioctlErrno;
        const char* text;
    };
    const Case cases[] = {
        {"host adapter status", FakeDrive::Transport::PassThrough, true, 0,
         "Transport failure: the command did not reach the recorder (host adapter status 03h)"},
        {"ioctl failed", FakeDrive::Transport::PassThrough, false, EIO,
         "Transport failure: the command did not reach the recorder (Input/output error)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDrive drive(device, c.transport);
        drive.hostError = c.hostError;
        drive.failIoctlWith = c.ioctlErrno;
        device.suppressErrorCode = 1;
        EXPECT_EQ(device::TestUnitReady(device), 0);
        EXPECT_EQ(device.lastTransportFailure, 1);
        jobs::reportLastSense(device);
        EXPECT_STREQ(engine.GetLastErrorText(), c.text);
        device.suppressErrorCode = 0;
        drive.hostError = false;
        drive.failIoctlWith = 0;
        EXPECT_EQ(device::TestUnitReady(device), 1);
        EXPECT_EQ(device.lastTransportFailure, 0);
    }
}

}  // namespace
}  // namespace velk
