// End to end through the ASPI-style transport: the engine loads the virtual
// recorder's plugin, lists and selects its drives and asks every drive and
// disc query, and the answers are checked against the recorder's own disc
// state (its disc files).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/api/BurnEngine.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/RecorderDevice.h"
#include "platform/DynamicLibrary.h"
#include "tests/support/TempDir.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/Media.h"

namespace velk {
namespace {

using vrec::DiscStore;
using vrec::MediumKind;

const std::string PluginPath = std::string(VELK_BINARY_DIR) + "/virtual-recorder/libvelk-vrec.so";

using ConfigureFn = int (*)(const char* const*, std::size_t, double);
using ShutdownFn = void (*)();

// The plugin as the engine loads it (dlopen hands out the same instance).
struct Plugin {
    ConfigureFn configure = nullptr;
    ShutdownFn shutdown = nullptr;
    bool load() {
        void* library = platform::loadLibrary(PluginPath);
        if (!library) return false;
        configure = reinterpret_cast<ConfigureFn>(platform::findSymbol(library, "vrecConfigure"));
        shutdown = reinterpret_cast<ShutdownFn>(platform::findSymbol(library, "vrecShutdown"));
        return configure && shutdown;
    }
};

constexpr std::uint32_t VolumeBlocks = 40;

// A small ISO 9660 volume: a primary descriptor at block 16 and the set
// terminator at 17.
std::vector<std::uint8_t> isoVolume() {
    std::vector<std::uint8_t> data(VolumeBlocks * 2048, 0);
    std::uint8_t* primary = data.data() + 16 * 2048;
    primary[0] = 1;
    std::memcpy(primary + 1, "CD001", 5);
    primary[6] = 1;
    primary[80] = VolumeBlocks;
    primary[87] = VolumeBlocks;
    std::uint8_t* terminator = data.data() + 17 * 2048;
    terminator[0] = 255;
    std::memcpy(terminator + 1, "CD001", 5);
    terminator[6] = 1;
    return data;
}

enum class Written { Blank, Appendable, Finalised };

struct Medium {
    MediumKind kind;
    DiscType type;
    int erasable;
};

const Medium Writable[] = {
    {MediumKind::CdR, DiscCdR, 0},
    {MediumKind::CdRw, DiscCdRw, 1},
    {MediumKind::DvdR, DiscDvdR, 0},
    {MediumKind::DvdRwSequential, DiscDvdRwSequential, 1},
    {MediumKind::DvdPlusR, DiscDvdPlusR, 0},
    {MediumKind::DvdPlusRDl, DiscDvdPlusRDualLayer, 0},
};

const Medium Overwritable[] = {
    {MediumKind::DvdRam, DiscDvdRam, 1},
    {MediumKind::DvdRwRestricted, DiscDvdRwRestricted, 1},
    {MediumKind::DvdPlusRw, DiscDvdPlusRw, 1},
};

class VirtualRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(PluginPath))
            << PluginPath << " is missing: build the velk_vrec_plugin target";
        ASSERT_TRUE(plugin.load());
    }
    void TearDown() override {
        if (plugin.shutdown) plugin.shutdown();
        ::unsetenv("VELK_VIRTUAL_DISCS");
        ::unsetenv("VELK_VIRTUAL_FAULTS");
    }

    std::string makeDisc(const std::string& name, MediumKind kind, Written written) {
        std::string path = dir.str() + "/" + name;
        std::string error;
        auto disc = DiscStore::create(path, kind, 0, &error);
        EXPECT_TRUE(disc) << error;
        if (!disc) return path;
        if (written != Written::Blank) {
            // A DVD+RW leaves its box unformatted; a written one has been formatted.
            if (kind == MediumKind::DvdPlusRw) disc->layout().formatOverwritable(kind, 0);
            auto refused = disc->writeSessionDirect(isoVolume(), written == Written::Appendable);
            EXPECT_FALSE(refused.has_value());
        }
        EXPECT_TRUE(disc->save(&error)) << error;
        return path;
    }
    vrec::DiscLayout layoutOf(const std::string& path) {
        std::string error;
        auto disc = DiscStore::open(path, &error);
        EXPECT_TRUE(disc) << error;
        return disc ? disc->layout() : vrec::DiscLayout{};
    }
    // Serves `paths` and lets the engine find them through the plugin.
    void serve(const std::vector<std::string>& paths) {
        std::vector<const char*> names;
        for (const std::string& p : paths) names.push_back(p.c_str());
        ASSERT_EQ(plugin.configure(names.data(), names.size(), 1000.0), static_cast<int>(paths.size()));
        ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
    }

    Plugin plugin;
    testing::TempDir dir;
    BurnEngine engine;
};

TEST_F(VirtualRecorderTest, DrivesAreListedWithTheirLettersAndSelected) {
    serve({makeDisc("a.disc", MediumKind::CdR, Written::Blank), makeDisc("b.disc", MediumKind::DvdPlusR, Written::Blank)});
    EXPECT_EQ(engine.device().sptiMode, 0);
    ASSERT_EQ(engine.GetDeviceCount(), 2);
    EXPECT_EQ(std::string(engine.GetDeviceName(0)), "0:0:0,V: VELK     Virtual Recorder 1.00             ");
    EXPECT_EQ(std::string(engine.GetDeviceName(1)).substr(0, 9), "0:1:0,W: ");
    ASSERT_EQ(engine.SelectByLetter('W'), 1);
    EXPECT_EQ(engine.device().targetId, 1);
    EXPECT_STREQ(engine.device().vendorId, "VELK    ");
    EXPECT_STREQ(engine.device().productId, "Virtual Recorder");
    EXPECT_EQ(engine.GetDiscType(), DiscDvdPlusR);
    ASSERT_EQ(engine.SelectByIndex(0), 1);
    EXPECT_EQ(engine.GetDiscType(), DiscCdR);
}

TEST_F(VirtualRecorderTest, SequentialMediaBlankAppendableAndFinalised) {
    for (const Medium& m : Writable) {
        for (Written written : {Written::Blank, Written::Appendable, Written::Finalised}) {
            const vrec::MediumInfo& info = vrec::mediumInfo(m.kind);
            SCOPED_TRACE(::testing::Message() << info.name << " " << static_cast<int>(written));
            std::string path = makeDisc(std::string(info.name) + ".disc", m.kind, written);
            vrec::DiscLayout layout = layoutOf(path);
            serve({path});
            ASSERT_EQ(engine.SelectByIndex(0), 1);

            EXPECT_EQ(engine.GetDiscType(), m.type);
            EXPECT_EQ(engine.CanWrite(), 1);
            EXPECT_EQ(engine.GetMaxWriteSpeed(), vrec::speedKbps(info.cd, info.maxWriteX));
            std::uint16_t slow = static_cast<std::uint16_t>(vrec::speedKbps(info.cd, info.cd ? 4 : 2));
            EXPECT_EQ(engine.SetSpeeds(0, slow), 1);
            EXPECT_EQ(engine.GetWriteSpeed(), slow);
            EXPECT_EQ(engine.CanErase(), m.erasable);
            EXPECT_EQ(engine.GetSessionCount(), layout.closedSessions);

            const vrec::Track* open = layout.invisibleTrack();
            if (written == Written::Finalised) {
                EXPECT_EQ(open, nullptr);
                EXPECT_EQ(engine.IsDiscWritable(), 0);
                EXPECT_EQ(engine.GetFreeBlocks(), 0);
            } else {
                ASSERT_NE(open, nullptr);
                EXPECT_EQ(engine.IsDiscWritable(), 1);
                std::uint32_t freeBlocks = layout.freeBlocks(*open);
                std::uint32_t size = layout.reportedTrackSize(*open);
                EXPECT_EQ(static_cast<std::uint32_t>(engine.GetFreeBlocks()), std::max(freeBlocks, size));
            }
            if (info.cd && open) {
                EXPECT_EQ(static_cast<std::uint32_t>(engine.GetDiscCapacity()),
                          open->start + layout.reportedTrackSize(*open));
            } else if (!info.cd) {
                EXPECT_EQ(static_cast<std::uint32_t>(engine.GetDiscCapacity()), layout.capacity);
            }
            EXPECT_EQ(engine.GetIsoVolumeSize(), written == Written::Blank ? 0u : VolumeBlocks);
            plugin.shutdown();
        }
    }
}

TEST_F(VirtualRecorderTest, OverwritableMedia) {
    for (const Medium& m : Overwritable) {
        for (Written written : {Written::Blank, Written::Appendable}) {
            const vrec::MediumInfo& info = vrec::mediumInfo(m.kind);
            SCOPED_TRACE(::testing::Message() << info.name << " " << static_cast<int>(written));
            std::string path = makeDisc(std::string(info.name) + ".disc", m.kind, written);
            vrec::DiscLayout layout = layoutOf(path);
            serve({path});
            ASSERT_EQ(engine.SelectByIndex(0), 1);
            EXPECT_EQ(engine.GetDiscType(), m.type);
            EXPECT_EQ(engine.CanErase(), 1);
            EXPECT_EQ(engine.IsDiscWritable(), 1);
            std::uint32_t volume = written == Written::Blank ? 0 : VolumeBlocks;
            EXPECT_EQ(engine.GetIsoVolumeSize(), volume);
            if (layout.formattedBlocks != 0) {
                EXPECT_EQ(static_cast<std::uint32_t>(engine.GetFreeBlocks()), layout.formattedBlocks - volume);
            }
            plugin.shutdown();
        }
    }
}

TEST_F(VirtualRecorderTest, ReadOnlyDiscs) {
    const std::pair<MediumKind, DiscType> pressed[] = {{MediumKind::CdRom, DiscCdRom}, {MediumKind::DvdRom, DiscDvdRom}};
    for (const auto& [kind, type] : pressed) {
        SCOPED_TRACE(vrec::mediumInfo(kind).name);
        std::string image = dir.str() + "/image.iso";
        std::vector<std::uint8_t> volume = isoVolume();
        std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(volume.data()),
                                                     static_cast<std::streamsize>(volume.size()));
        std::string path = dir.str() + "/pressed.disc";
        std::string error;
        auto disc = DiscStore::createPressed(path, kind, image, &error);
        ASSERT_TRUE(disc) << error;
        ASSERT_TRUE(disc->save(&error)) << error;
        disc.reset();
        serve({path});
        ASSERT_EQ(engine.SelectByIndex(0), 1);
        EXPECT_EQ(engine.GetDiscType(), type);
        EXPECT_EQ(engine.IsDiscWritable(), 0);
        EXPECT_EQ(engine.CanErase(), 0);
        EXPECT_EQ(engine.GetIsoVolumeSize(), VolumeBlocks);
        EXPECT_EQ(engine.GetSessionCount(), 1);
        plugin.shutdown();
    }
}

// Many read-only drives refuse READ TRACK INFORMATION (QEMU's answers
// 05/20/00), some READ DISC INFORMATION too: the session count and a CD's
// size then come from the table of contents, as the drive would tell them.
TEST_F(VirtualRecorderTest, PressedDiscsWithoutTrackInformationAreToldByTheTableOfContents) {
    const std::pair<MediumKind, DiscType> pressed[] = {{MediumKind::CdRom, DiscCdRom}, {MediumKind::DvdRom, DiscDvdRom}};
    for (const auto& [kind, type] : pressed) {
        SCOPED_TRACE(vrec::mediumInfo(kind).name);
        std::string image = dir.str() + "/image.iso";
        std::vector<std::uint8_t> volume = isoVolume();
        std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(volume.data()),
                                                     static_cast<std::streamsize>(volume.size()));
        std::string path = dir.str() + "/pressed.disc";
        std::string error;
        auto disc = DiscStore::createPressed(path, kind, image, &error);
        ASSERT_TRUE(disc) << error;
        ASSERT_TRUE(disc->save(&error)) << error;
        const std::uint32_t capacity = type == DiscCdRom ? disc->layout().capacity : 0;
        disc.reset();
        struct Case {
            const char* faults;
            bool discInfo;  // READ DISC INFORMATION is answered
        };
        for (const Case& c : {Case{"", true}, Case{"no-read-track-info", true},
                              Case{"no-read-track-info,op:51:05/20/00", false}}) {
            SCOPED_TRACE(c.faults);
            plugin.shutdown();
            ::setenv("VELK_VIRTUAL_DISCS", path.c_str(), 1);
            ::setenv("VELK_VIRTUAL_FAULTS", c.faults, 1);
            ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
            ASSERT_EQ(engine.SelectByIndex(0), 1);
            EXPECT_EQ(engine.GetDiscType(), type);
            EXPECT_EQ(engine.GetSessionCount(), 1);
            EXPECT_EQ(engine.GetIsoVolumeSize(), VolumeBlocks);
            if (!c.discInfo) continue;
            EXPECT_EQ(static_cast<std::uint32_t>(engine.GetDiscCapacity()), capacity);
            // The CD's size came around the refusal, which then is no error.
            if (type == DiscCdRom) {
                EXPECT_EQ(engine.GetLastErrorCode(), 0);
            }
        }
        plugin.shutdown();
    }
}

TEST_F(VirtualRecorderTest, DiscTypeFallBacksWhenGetConfigurationIsRefused) {
    struct Case {
        const char* faults;
        MediumKind kind;
        DiscType expected;
    };
    const Case cases[] = {
        {"no-config", MediumKind::CdRw, DiscCdRw},                             // from the ATIP
        {"no-config", MediumKind::CdR, DiscCdR},
        {"no-config,op:43:05/24/00", MediumKind::CdRw, DiscCdRw},              // from the erasable bit
        {"no-config,op:43:05/24/00", MediumKind::CdR, DiscCdR},
        {"no-config,op:43:05/24/00,op:51:05/24/00", MediumKind::CdR, DiscCdRom},  // ready
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        std::string path = makeDisc("fallback.disc", c.kind, Written::Blank);
        plugin.shutdown();
        ::setenv("VELK_VIRTUAL_DISCS", path.c_str(), 1);
        ::setenv("VELK_VIRTUAL_FAULTS", c.faults, 1);
        ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
        ASSERT_EQ(engine.GetDeviceCount(), 1);
        (void)engine.SelectByIndex(0);
        EXPECT_EQ(engine.GetDiscType(), c.expected);
        plugin.shutdown();
    }
}

// The Nth command of a selection and a round of every query fails, for each
// N along the way: every answer stays within what the disc can hold.
TEST_F(VirtualRecorderTest, EveryQueryCopesWithAFailureAtAnyCommand) {
    std::string path = makeDisc("faults.disc", MediumKind::DvdPlusR, Written::Appendable);
    vrec::DiscLayout layout = layoutOf(path);
    const DiscType valid[] = {DiscNone, DiscCdRom, DiscCdR, DiscDvdPlusR};
    int fallBacks = 0;  // rounds in which the fault met GET CONFIGURATION
    for (int n = 1; n <= 80; ++n) {
        SCOPED_TRACE(n);
        plugin.shutdown();
        std::string faults = "cmd:" + std::to_string(n) + ":02/04/01";
        ::setenv("VELK_VIRTUAL_DISCS", path.c_str(), 1);
        ::setenv("VELK_VIRTUAL_FAULTS", faults.c_str(), 1);
        ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
        (void)engine.SelectByIndex(0);
        DiscType type = engine.GetDiscType();
        EXPECT_NE(std::find(std::begin(valid), std::end(valid), type), std::end(valid)) << int(type);
        if (type != DiscDvdPlusR) fallBacks++;
        EXPECT_LE(engine.GetSessionCount(), 1);
        EXPECT_LE(static_cast<std::uint32_t>(engine.GetFreeBlocks()), layout.capacity);
        EXPECT_LE(static_cast<std::uint32_t>(engine.GetDiscCapacity()), layout.capacity);
        std::uint32_t volume = engine.GetIsoVolumeSize();
        EXPECT_TRUE(volume == 0 || volume == VolumeBlocks) << volume;
        (void)engine.GetMaxWriteSpeed();
        (void)engine.CanErase();
        (void)engine.IsDiscWritable();
        (void)engine.GetLastErrorCode();
    }
    EXPECT_GT(fallBacks, 0);
}

// What `velk-cli info` asks, in its order. The probes among the queries meet
// refusals on most discs (page 30h, blank blocks, write parameters of a
// pressed disc); none of them may be left as the error code.
void askWhatInfoAsks(BurnEngine& engine) {
    (void)engine.TestUnitReady();
    (void)engine.GetDiscType();
    (void)engine.GetSessionCount();
    (void)engine.IsDiscWritable();
    (void)engine.CanErase();
    (void)engine.GetFreeBlocks();
    (void)engine.GetDiscCapacity();
    (void)engine.GetIsoVolumeSize();
    (void)engine.GetMaxReadSpeed();
    (void)engine.GetReadSpeed();
    (void)engine.GetMaxWriteSpeed();
    (void)engine.GetMaxWriteSpeedCurrent();
    (void)engine.GetWriteSpeed();
    (void)engine.CanWrite();
    for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18, 21, 22}) {
        (void)engine.QueryCapability(code);
    }
}

TEST_F(VirtualRecorderTest, ProbingLeavesNoErrorCodeAndALaterFailureReportsItsOwn) {
    struct Case {
        MediumKind kind;
        Written written;
    };
    const Case cases[] = {
        {MediumKind::CdR, Written::Blank},           {MediumKind::CdRw, Written::Appendable},
        {MediumKind::DvdR, Written::Finalised},      {MediumKind::DvdPlusR, Written::Blank},
        {MediumKind::DvdPlusRw, Written::Blank},     {MediumKind::DvdPlusRw, Written::Appendable},
        {MediumKind::DvdRwRestricted, Written::Blank}, {MediumKind::DvdRam, Written::Blank},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << vrec::mediumInfo(c.kind).name << " " << static_cast<int>(c.written));
        serve({makeDisc("probe.disc", c.kind, c.written)});
        ASSERT_EQ(engine.SelectByIndex(0), 1);
        askWhatInfoAsks(engine);
        EXPECT_EQ(engine.GetLastErrorCode(), 0);

        EXPECT_EQ(engine.Eject(), 1);
        EXPECT_EQ(engine.TestUnitReady(), 0);
        EXPECT_EQ(engine.GetLastErrorCode(), 0x3A02);  // medium not present, tray open
        EXPECT_EQ(engine.GetLastErrorCode(), 0);       // read once
        plugin.shutdown();
    }
}

// A pressed disc has no ATIP and refuses the write parameters the queries
// send first.
TEST_F(VirtualRecorderTest, ProbingOfAPressedDiscLeavesNoErrorCode) {
    std::string image = dir.str() + "/image.iso";
    std::vector<std::uint8_t> volume = isoVolume();
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(volume.data()),
                                                 static_cast<std::streamsize>(volume.size()));
    std::string path = dir.str() + "/pressed.disc";
    std::string error;
    auto disc = DiscStore::createPressed(path, MediumKind::DvdRom, image, &error);
    ASSERT_TRUE(disc) << error;
    ASSERT_TRUE(disc->save(&error)) << error;
    disc.reset();
    serve({path});
    ASSERT_EQ(engine.SelectByIndex(0), 1);
    askWhatInfoAsks(engine);
    EXPECT_EQ(engine.GetLastErrorCode(), 0);
}

TEST_F(VirtualRecorderTest, LoadAndEjectMoveTheTray) {
    serve({makeDisc("tray.disc", MediumKind::DvdR, Written::Blank)});
    ASSERT_EQ(engine.SelectByIndex(0), 1);
    EXPECT_EQ(engine.TestUnitReady(), 1);
    EXPECT_EQ(engine.Eject(), 1);
    EXPECT_EQ(engine.TestUnitReady(), 0);
    EXPECT_EQ(engine.GetLastErrorCode() / 256, 0x3A);  // medium not present
    EXPECT_EQ(engine.LoadMedium(), 1);
    (void)engine.TestUnitReady();  // a unit attention may follow the load
    EXPECT_EQ(engine.TestUnitReady(), 1);
    EXPECT_EQ(engine.GetDiscType(), DiscDvdR);
}

}  // namespace
}  // namespace velk
