// The plugin through its exported entry points, loaded the way the engine's
// ASPI transport loads it.
#include <dlfcn.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "RecorderHarness.h"
#include "virtual-recorder/AspiPlugin.h"

namespace velk::vrec::test {
namespace {

using ConfigureFn = int (*)(const char* const*, std::size_t, double);
using ShutdownFn = void (*)();

class AspiPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = std::string(VELK_BINARY_DIR) + "/virtual-recorder/libvelk-vrec.so";
        handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        supportInfo_ = reinterpret_cast<GetAspiSupportInfoFn>(::dlsym(handle_, GetAspiSupportInfoName));
        send_ = reinterpret_cast<SendAspiCommandFn>(::dlsym(handle_, SendAspiCommandName));
        configure_ = reinterpret_cast<ConfigureFn>(::dlsym(handle_, "vrecConfigure"));
        shutdown_ = reinterpret_cast<ShutdownFn>(::dlsym(handle_, "vrecShutdown"));
        ASSERT_TRUE(supportInfo_ && send_ && configure_ && shutdown_);
        for (auto [name, kind] : {std::pair{"a.vdisc", MediumKind::CdR}, std::pair{"b.vdisc", MediumKind::DvdPlusRw}}) {
            std::string error;
            ASSERT_TRUE(DiscStore::create(dir_.file(name), kind, 10000, &error)) << error;
            paths_.push_back(dir_.file(name));
        }
    }
    void TearDown() override {
        if (shutdown_ != nullptr) shutdown_();
        // The library stays loaded, as the engine never unloads it either.
    }
    void configure() {
        const char* list[] = {paths_[0].c_str(), paths_[1].c_str()};
        ASSERT_EQ(configure_(list, 2, 1e6), 2);
    }
    ScsiRequestBlock request(std::uint8_t target, std::uint8_t lun, std::initializer_list<std::uint8_t> cdb,
                             std::uint8_t* data, std::uint32_t length) {
        ScsiRequestBlock r{};
        r.commandCode = SrbExecuteCommand;
        r.target = target;
        r.lun = lun;
        r.flags = data != nullptr ? SrbFlagsRead : SrbFlagsNoData;
        r.dataBuffer = data;
        r.dataLength = length;
        r.senseLength = ScsiSenseRequested;
        r.cdbLength = static_cast<std::uint8_t>(cdb.size());
        std::copy(cdb.begin(), cdb.end(), r.cdb);
        return r;
    }

    TempDir dir_;
    std::vector<std::string> paths_;
    // Completion events outlive the plugin's workers (joined in TearDown):
    // Event::set() may still be inside notify_all when the waiter returns.
    std::vector<platform::Event> events_ = std::vector<platform::Event>(64);
    void* handle_ = nullptr;
    GetAspiSupportInfoFn supportInfo_ = nullptr;
    SendAspiCommandFn send_ = nullptr;
    ConfigureFn configure_ = nullptr;
    ShutdownFn shutdown_ = nullptr;
};

TEST_F(AspiPlugin, HostAdapterInquiryAndDiskInformation) {
    configure();
    EXPECT_EQ(supportInfo_(), 0x0101u);
    HostAdapterInquiry inquiry{};
    inquiry.bytes[0] = SrbHostAdapterInquiry;
    EXPECT_EQ(send_(&inquiry), SrbComplete);
    EXPECT_EQ(inquiry.bytes[HaInquiryAdapterCountOffset], 1);
    inquiry.bytes[2] = 1;
    EXPECT_EQ(send_(&inquiry), SrbInvalidAdapter);

    for (std::uint8_t target = 0; target < 3; ++target) {
        GetDiskInfoRequest info{};
        info.bytes[0] = SrbGetDiskInfo;
        info.bytes[DiskInfoTargetOffset] = target;
        const auto status = send_(&info);
        if (target < 2) {
            EXPECT_EQ(status, SrbComplete);
            EXPECT_EQ('A' + info.bytes[DiskInfoDriveNumberOffset], 'V' + target);
        } else {
            EXPECT_NE(status, SrbComplete);
        }
    }
}

TEST_F(AspiPlugin, InquiryPerTargetAndLun) {
    configure();
    for (std::uint8_t target = 0; target < 3; ++target) {
        for (std::uint8_t lun = 0; lun < 2; ++lun) {
            std::array<std::uint8_t, 36> data{};
            auto r = request(target, lun, {0x12, 0, 0, 0, 36, 0}, data.data(), 36);
            const auto status = send_(&r);
            if (target >= 2) {
                EXPECT_EQ(status, SrbNoDevice);
            } else if (lun == 0) {
                EXPECT_EQ(status, SrbComplete);
                EXPECT_EQ(data[0], 0x05);
                EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 12), "VELK");
            } else {
                EXPECT_EQ(status, SrbComplete);
                EXPECT_EQ(data[0], 0x7F);  // no logical unit there
            }
        }
    }
}

TEST_F(AspiPlugin, ExecuteSynchronouslyAndWithTheCompletionEvent) {
    configure();
    // Without an event the call returns the final status.
    std::array<std::uint8_t, 112> config{};
    auto sync = request(1, 0, {0x46, 2, 0, 0, 0, 0, 0, 0, 112, 0}, config.data(), 112);
    EXPECT_EQ(send_(&sync), SrbComplete);
    EXPECT_EQ(sync.targetStatus, ScsiStatusGood);
    EXPECT_EQ(getBe16(&config[6]), 0x001Au);  // the DVD+RW of target 1

    // With the event: pending, then complete when the event is set.
    platform::Event& event = events_[0];
    std::array<std::uint8_t, 96> track{};
    auto async = request(0, 0, {0x52, 1, 0, 0, 0, 1, 0, 0, 96, 0}, track.data(), 96);
    async.flags |= SrbEventNotify;
    async.completionEvent = &event;
    ASSERT_EQ(send_(&async), SrbPending);
    ASSERT_TRUE(event.waitFor(std::chrono::seconds(10)));
    EXPECT_EQ(async.status, SrbComplete);
    EXPECT_EQ(getBe32(&track[16]), 10000u);  // free blocks of the blank CD-R

    // A CHECK CONDITION arrives the same way, with its sense data.
    event.reset();
    auto failing = request(0, 0, {0x52, 1, 0, 0, 0, 7, 0, 0, 96, 0}, track.data(), 96);
    failing.flags |= SrbEventNotify;
    failing.completionEvent = &event;
    ASSERT_EQ(send_(&failing), SrbPending);
    ASSERT_TRUE(event.waitFor(std::chrono::seconds(10)));
    EXPECT_EQ(failing.status, SrbError);
    EXPECT_EQ(failing.targetStatus, ScsiStatusCheckCondition);
    EXPECT_EQ(failing.sense[0], 0x70);
    EXPECT_EQ(failing.sense[2], 0x05);
    EXPECT_EQ(failing.sense[12], 0x24);
    EXPECT_EQ(failing.sense[13], 0x00);
}

// Two threads send to both drives at once: in the caller's thread (the
// default) each drive still runs one command at a time, and with "async" the
// workers answer later, each request with its own event.
TEST_F(AspiPlugin, ManyRequestsInFlightOnSeveralDrives) {
    using AddPlanFn = int (*)(std::size_t, const char*);
    auto addPlan = reinterpret_cast<AddPlanFn>(::dlsym(handle_, "vrecAddPlan"));
    ASSERT_NE(addPlan, nullptr);
    for (bool async : {false, true}) {
        SCOPED_TRACE(async ? "async" : "in the caller's thread");
        configure();
        if (async) {
            ASSERT_EQ(addPlan(0, "async"), 1);
            ASSERT_EQ(addPlan(1, "async"), 1);
        }
        constexpr int kRequests = 64;
        std::vector<platform::Event> events(kRequests);
        std::vector<std::array<std::uint8_t, 34>> answers(kRequests);
        std::vector<ScsiRequestBlock> requests;
        for (int i = 0; i < kRequests; ++i) {
            requests.push_back(request(static_cast<std::uint8_t>(i % 2), 0, {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0},
                                       answers[i].data(), 34));
            requests.back().flags |= SrbEventNotify;
            requests.back().completionEvent = &events[i];
        }
        std::array<std::uint32_t, kRequests> submitted{};
        auto sendHalf = [&](int first) {
            for (int i = first; i < kRequests; i += 2) submitted[i] = send_(&requests[i]);
        };
        std::thread other(sendHalf, 1);
        sendHalf(0);
        other.join();
        for (int i = 0; i < kRequests; ++i) {
            ASSERT_EQ(submitted[i], SrbPending);
            ASSERT_TRUE(events[i].waitFor(std::chrono::seconds(10)));
            EXPECT_EQ(requests[i].status, SrbComplete);
            EXPECT_EQ(answers[i][2] & 0x10, i % 2 == 0 ? 0 : 0x10);  // CD-R vs DVD+RW: erasable bit
        }
        shutdown_();  // joins the workers before the events go
    }
}

TEST_F(AspiPlugin, ServesTheDiscsNamedInTheEnvironment) {
    shutdown_();
    const std::string list = paths_[1] + ":" + dir_.file("missing.vdisc");
    ::setenv("VELK_VIRTUAL_DISCS", list.c_str(), 1);
    ::setenv("VELK_VIRTUAL_TIME_SCALE", "1000", 1);
    ::setenv("VELK_VIRTUAL_JOURNAL", dir_.file("journal.txt").c_str(), 1);
    ::setenv("VELK_VIRTUAL_FAULTS", "op:51:03/11/00", 1);
    EXPECT_EQ(supportInfo_(), 0x0101u);
    ::unsetenv("VELK_VIRTUAL_DISCS");
    ::unsetenv("VELK_VIRTUAL_TIME_SCALE");
    ::unsetenv("VELK_VIRTUAL_JOURNAL");
    ::unsetenv("VELK_VIRTUAL_FAULTS");
    auto faulty = request(0, 0, {0x51, 0, 0, 0, 0, 0, 0, 0, 0, 0}, nullptr, 0);
    EXPECT_EQ(send_(&faulty), SrbError);
    EXPECT_EQ(faulty.sense[12], 0x11);
    auto ready = request(0, 0, {0, 0, 0, 0, 0, 0}, nullptr, 0);
    EXPECT_EQ(send_(&ready), SrbComplete);
    // A disc file that cannot be opened gives a drive without a disc.
    auto empty = request(1, 0, {0, 0, 0, 0, 0, 0}, nullptr, 0);
    EXPECT_EQ(send_(&empty), SrbError);
    EXPECT_EQ(empty.sense[12], 0x3A);
    shutdown_();
    std::ifstream journal(dir_.file("journal.txt"));
    std::string first, second;
    std::getline(journal, first);
    std::getline(journal, second);
    EXPECT_EQ(first, "T0 51 00 00 00 00 00 00 00 00 00 | none 0 | 02 03/11/00");
    EXPECT_EQ(second, "T0 00 00 00 00 00 00 | none 0 | 00");
    EXPECT_EQ(supportInfo_() & 0xFF, 0u);  // nothing configured: no adapter
}

TEST_F(AspiPlugin, FaultPlansPerDriveFromTheEnvironmentAndTheEntryPoint) {
    shutdown_();
    const std::string list = paths_[0] + ":" + paths_[1];
    ::setenv("VELK_VIRTUAL_DISCS", list.c_str(), 1);
    ::setenv("VELK_VIRTUAL_FAULTS_1", "busy-op:00:1", 1);
    EXPECT_EQ(supportInfo_(), 0x0101u);
    ::unsetenv("VELK_VIRTUAL_DISCS");
    ::unsetenv("VELK_VIRTUAL_FAULTS_1");
    auto ready = [&](std::uint8_t target) {
        auto r = request(target, 0, {0, 0, 0, 0, 0, 0}, nullptr, 0);
        send_(&r);
        return r.targetStatus;
    };
    EXPECT_EQ(ready(0), ScsiStatusGood);
    EXPECT_EQ(ready(1), ScsiStatusBusy);  // only the drive the plan names
    EXPECT_EQ(ready(1), ScsiStatusGood);

    using AddPlanFn = int (*)(std::size_t, const char*);
    auto addPlan = reinterpret_cast<AddPlanFn>(::dlsym(handle_, "vrecAddPlan"));
    ASSERT_NE(addPlan, nullptr);
    EXPECT_EQ(addPlan(0, "busy:1"), 1);
    EXPECT_EQ(ready(0), ScsiStatusBusy);
    EXPECT_EQ(ready(0), ScsiStatusGood);
    EXPECT_EQ(addPlan(0, "busy:1,sometimes"), 0);  // nothing of a malformed plan
    EXPECT_EQ(ready(0), ScsiStatusGood);
    EXPECT_EQ(addPlan(2, "busy:1"), 0);  // no such drive
}

TEST(AspiPluginInProcess, EntryPointsServeTheConfiguredRecorders) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(DiscStore::create(dir.file("x.vdisc"), MediumKind::DvdR, 0, &error)) << error;
    const std::string path = dir.file("x.vdisc");
    const char* list[] = {path.c_str()};
    ASSERT_EQ(vrecConfigure(list, 1, 1e6), 1);
    ASSERT_EQ(vrecDriveCount(), 1u);
    ScsiRequestBlock r{};
    r.commandCode = SrbExecuteCommand;
    r.flags = SrbFlagsNoData;
    r.cdbLength = 6;
    EXPECT_EQ(SendASPI32Command(&r), SrbComplete);
    VirtualRecorder* recorder = vrecRecorder(0);
    ASSERT_NE(recorder, nullptr);
    EXPECT_EQ(recorder->journal().opcodes(), std::vector<std::uint8_t>{0x00});
    vrecShutdown();
}

}  // namespace
}  // namespace velk::vrec::test
