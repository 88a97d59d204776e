// The fault rules that make the virtual recorder answer as real drives do:
// descriptor-format sense, recovered and deferred errors, a drive becoming
// ready after a load, a command lost between host and drive.
#include <cstring>

#include "RecorderHarness.h"

namespace velk::vrec::test {
namespace {

// A request as the plugin gets it, to read the raw sense and statuses.
ScsiRequestBlock rawRequest(std::initializer_list<std::uint8_t> cdb, std::uint8_t* data = nullptr,
                            std::uint32_t length = 0) {
    ScsiRequestBlock request{};
    request.commandCode = SrbExecuteCommand;
    request.flags = data ? SrbFlagsRead : SrbFlagsNoData;
    request.dataBuffer = data;
    request.dataLength = length;
    request.senseLength = ScsiSenseRequested;
    request.cdbLength = static_cast<std::uint8_t>(cdb.size());
    std::memcpy(request.cdb, cdb.begin(), cdb.size());
    return request;
}

TEST(RealDriveAnswers, DescriptorSenseForCommandsAndRequestSense) {
    Harness h(MediumKind::DvdR);
    ASSERT_TRUE(h.recorder->faults().addPlan("sense-descriptor"));
    ScsiRequestBlock unknown = rawRequest({0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(h.recorder->execute(unknown), SrbError);
    const std::uint8_t header[8] = {0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(unknown.sense, header, sizeof header), 0);
    // The parsed result reads the same either way.
    EXPECT_EQ(h.run({0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).sense, sense::InvalidOpcode);

    // A running format reports its progress in a sense-key-specific descriptor.
    auto list = dvdRwQuickFormat();
    Harness rw(MediumKind::DvdRwSequential, 0, 10.0);
    ASSERT_TRUE(rw.recorder->faults().addPlan("sense-descriptor"));
    ASSERT_TRUE(rw.run({0x04, 0x11, 0, 0, 0, 0}, &list, DataDirection::Out).good());
    std::uint8_t answer[32] = {};
    ScsiRequestBlock requested = rawRequest({0x03, 0, 0, 0, 32, 0}, answer, sizeof answer);
    ASSERT_EQ(rw.recorder->execute(requested), SrbComplete);
    EXPECT_EQ(answer[0], 0x72);
    EXPECT_EQ(answer[1], SenseKeyNotReady);
    EXPECT_EQ(answer[2], 0x04);
    EXPECT_EQ(answer[7], 8);
    EXPECT_EQ(answer[8], 0x02);
    EXPECT_EQ(answer[12] & 0x80, 0x80);
}

TEST(RealDriveAnswers, RecoveredErrorIsCarriedOut) {
    Harness h(MediumKind::DvdPlusR);
    ASSERT_TRUE(h.recorder->faults().addPlan("recovered:2A:2"));
    const auto chunk = pattern(16, 1);
    EXPECT_TRUE(h.write(0, chunk).good());
    const CommandResult second = h.write(16, chunk);
    EXPECT_EQ(second.scsiStatus, ScsiStatusCheckCondition);
    EXPECT_EQ(second.sense, sense::RecoveredWithRetries);
    // Recorded: the next writable address moved past it.
    EXPECT_TRUE(h.write(32, chunk).good());
    EXPECT_EQ(h.run({0x03, 0, 0, 0, 18, 0}).sense, Sense{}) << "a recovered error is not left for REQUEST SENSE";
}

TEST(RealDriveAnswers, DeferredErrorComesOnceWithTheFirstOtherCommand) {
    Harness h(MediumKind::DvdPlusR);
    ASSERT_TRUE(h.recorder->faults().addPlan("deferred:2A:03/0C/00"));
    const auto chunk = pattern(16, 2);
    EXPECT_TRUE(h.testUnitReady().good());
    EXPECT_TRUE(h.write(0, chunk).good());
    EXPECT_TRUE(h.write(16, chunk).good());
    ScsiRequestBlock sync = rawRequest({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(h.recorder->execute(sync), SrbError);
    EXPECT_EQ(sync.sense[0], 0x71);
    EXPECT_EQ(sync.sense[2], SenseKeyMediumError);
    EXPECT_EQ(sync.sense[12], 0x0C);
    EXPECT_TRUE(h.write(32, chunk).good());
    EXPECT_TRUE(h.testUnitReady().good());
}

TEST(RealDriveAnswers, BecomingReadyForSecondsAfterEachLoad) {
    Harness h(MediumKind::CdR, 0, 1.0);
    ASSERT_TRUE(h.recorder->faults().addPlan("becoming-ready:10"));
    h.recorder->openTray();
    h.recorder->closeTray();
    EXPECT_EQ(h.testUnitReady().sense, sense::BecomingReady);
    EXPECT_TRUE(h.run({0x12, 0, 0, 0, 36, 0}).good()) << "INQUIRY needs no disc";
    h.recorder->setTimeScale(1e12);
    EXPECT_TRUE(h.testUnitReady().good());
    // A load through START STOP UNIT starts it again.
    ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x02, 0}).good());
    h.recorder->setTimeScale(1.0);
    ASSERT_TRUE(h.run({0x1B, 0, 0, 0, 0x03, 0}).good());
    EXPECT_EQ(h.testUnitReady().sense, sense::BecomingReady);
}

TEST(RealDriveAnswers, LostCommandNeverReachesTheDrive) {
    Harness h(MediumKind::CdR);
    ASSERT_TRUE(h.recorder->faults().addPlan("transport:00:2"));
    EXPECT_TRUE(h.testUnitReady().good());
    const std::size_t journaled = h.recorder->journal().size();
    ScsiRequestBlock lost = rawRequest({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(h.recorder->execute(lost), SrbError);
    EXPECT_EQ(lost.targetStatus, ScsiStatusGood);
    EXPECT_EQ(lost.adapterStatus, HostStatusSelectionTimeout);
    EXPECT_EQ(lost.sense[0], 0);
    EXPECT_EQ(h.recorder->journal().size(), journaled);
    EXPECT_TRUE(h.testUnitReady().good());
}

}  // namespace
}  // namespace velk::vrec::test
