// Burn jobs at their edges, through the virtual recorder's plugin: how a
// stream is cut into WRITEs, sessions already on the disc, Abort, close-only,
// burning an image file, test writes, the write speed, busy recorders, one
// job per recorder and waits that never end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>

#include "engine/api/BurnEngine.h"
#include "engine/image/ImageOperations.h"
#include "engine/image/ImageProject.h"
#include "image/ImageTestSupport.h"
#include "jobs/BurnTestSupport.h"
#include "virtual-recorder/Bytes.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;
using namespace std::chrono_literals;

struct Write {
    std::uint32_t lba;
    std::uint32_t blocks;
    bool operator==(const Write&) const = default;
};

std::vector<Write> writesOf(const std::vector<JournalLine>& lines, bool goodOnly = true) {
    std::vector<Write> writes;
    for (const JournalLine& line : lines) {
        const auto& c = line.cdb;
        if (line.opcode() != 0x2A || c.size() < 10 || (goodOnly && !line.good())) continue;
        writes.push_back({(std::uint32_t{c[2]} << 24) | (c[3] << 16) | (c[4] << 8) | c[5],
                          static_cast<std::uint32_t>((c[7] << 8) | c[8])});
    }
    return writes;
}

std::vector<std::string> closingCommands(const std::vector<JournalLine>& lines) {
    std::vector<std::string> out;
    for (const JournalLine& line : lines) {
        const auto& c = line.cdb;
        if (line.opcode() != 0x5B || c.size() < 6) continue;
        out.push_back("f" + std::to_string(c[2] & 0x07) + " t" + std::to_string((c[4] << 8) | c[5]));
    }
    return out;
}

// A project of one virtual file whose stream (header and data, UDF off) is
// exactly `blocks` long.
void planStreamOf(BurnEngine& engine, std::uint32_t blocks) {
    engine.ResetProject();
    engine.SetUdfBridge(0);
    ASSERT_NE(addVirtual(engine.project(), u"\\", u"probe.bin", 1), nullptr);
    ASSERT_GT(engine.PrepareImage(), 0);
    std::uint32_t dataStart = engine.project().plan.dataStart;
    ASSERT_LT(dataStart, blocks);
    engine.ResetProject();
    engine.SetUdfBridge(0);
    ASSERT_NE(addVirtual(engine.project(), u"\\", u"stream.bin", std::uint64_t{blocks - dataStart} * 2048), nullptr);
    ASSERT_GT(engine.PrepareImage(), 0);
}

// A small ISO 9660 volume for sessions made without the engine.
std::vector<std::uint8_t> isoVolume(std::uint32_t blocks) {
    std::vector<std::uint8_t> data(std::size_t{blocks} * 2048, 0);
    std::uint8_t* primary = data.data() + 16 * 2048;
    primary[0] = 1;
    std::memcpy(primary + 1, "CD001", 5);
    primary[6] = 1;
    primary[80] = static_cast<std::uint8_t>(blocks);
    primary[87] = static_cast<std::uint8_t>(blocks);
    std::uint8_t* terminator = data.data() + 17 * 2048;
    terminator[0] = 255;
    std::memcpy(terminator + 1, "CD001", 5);
    terminator[6] = 1;
    return data;
}

int startAndWait(BurnEngine& engine, Completion& completion) {
    if (engine.StartBurn(&Completion::callback, &completion) != 1) return -1;
    return completion.wait();
}

TEST(BurnStreamTest, TwoHundredBlocksAreSixWholeWritesAndAShortOneOnCdWholeOnDvd) {
    for (auto [kind, last] : {std::pair{MediumKind::CdR, 8u}, std::pair{MediumKind::DvdPlusR, 32u}}) {
        SCOPED_TRACE(vrec::mediumInfo(kind).name);
        VirtualBurn burn;
        burn.makeDisc(kind);
        ASSERT_NO_FATAL_FAILURE(burn.attach());
        ASSERT_NO_FATAL_FAILURE(planStreamOf(burn.engine, 200));
        Completion completion;
        ASSERT_EQ(startAndWait(burn.engine, completion), 0) << burn.journalText();
        std::vector<Write> expected;
        for (std::uint32_t lba = 0; lba < 192; lba += 32) expected.push_back({lba, 32});
        expected.push_back({192, last});
        EXPECT_EQ(writesOf(burn.journalLines()), expected);
    }
}

TEST(BurnStreamTest, DvdMinusRWithTwoSessionsClosesTracksThreeAndFourAndSessionFive) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdR);
    {
        auto store = burn.openDisc();
        ASSERT_FALSE(store->writeSessionDirect(isoVolume(40), true).has_value());
        ASSERT_FALSE(store->writeSessionDirect(isoVolume(40), true).has_value());
        ASSERT_TRUE(store->save());
    }
    std::uint32_t nextWritable = burn.openDisc()->layout().invisibleTrack()->start;
    std::string source = makeSourceTree(burn.dir);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    burn.engine.ResetProject();
    ASSERT_NE(burn.engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0), nullptr);
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    Completion completion;
    ASSERT_EQ(startAndWait(burn.engine, completion), 0) << burn.journalText();
    EXPECT_EQ(burn.engine.project().plan.startLba, nextWritable);
    EXPECT_EQ(closingCommands(burn.journalLines()), (std::vector<std::string>{"f1 t3", "f1 t4", "f2 t5"}));
    EXPECT_EQ(writesOf(burn.journalLines()).front().lba, nextWritable);
    EXPECT_EQ(burn.openDisc()->layout().closedSessions, 3u);
}

// A burn slow enough to be caught while it writes: 1x DVD at a low time
// scale and an image far larger than the drive buffer.
void startSlowBurn(VirtualBurn& burn, Completion& completion) {
    burn.makeDisc(MediumKind::DvdPlusR);
    ASSERT_NO_FATAL_FAILURE(burn.attach("", 10.0));
    ASSERT_EQ(burn.engine.SetSpeeds(0, 1385), 1);
    burn.engine.ResetProject();
    ASSERT_NE(addVirtual(burn.engine.project(), u"\\", u"large.bin", 64u << 20), nullptr);
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    ASSERT_EQ(burn.engine.StartBurn(&Completion::callback, &completion), 1);
    auto until = std::chrono::steady_clock::now() + 30s;
    while (burn.engine.GetBlocksWritten() < 1024 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_GE(burn.engine.GetBlocksWritten(), 1024);
}

TEST(BurnAbortTest, AbortClosesTheSessionWithWhatWasWrittenAndFailsOnce) {
    VirtualBurn burn;
    Completion completion;
    ASSERT_NO_FATAL_FAILURE(startSlowBurn(burn, completion));
    burn.engine.Abort();
    EXPECT_EQ(burn.engine.GetJobState(), JobAborted);
    ASSERT_EQ(completion.wait(), 1);
    EXPECT_EQ(completion.calls(), 1);
    EXPECT_EQ(burn.engine.GetJobState(), JobIdle);
    EXPECT_STREQ(burn.engine.GetLastErrorText(), "Aborted by user");
    std::vector<Write> writes = writesOf(burn.journalLines());
    ASSERT_FALSE(writes.empty());
    EXPECT_LT(writes.back().lba + 32, static_cast<std::uint32_t>(burn.engine.GetImageBlocks()));
    EXPECT_FALSE(closingCommands(burn.journalLines()).empty());

    std::string image = burn.exportSession();
    EXPECT_EQ(burn.openDisc()->layout().closedSessions, 1u);
    std::string command = "xorriso -indev '" + image + "' -find / >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "the closed session has no readable tree";
}

TEST(BurnAbortTest, OneJobPerRecorder) {
    VirtualBurn burn;
    Completion completion;
    ASSERT_NO_FATAL_FAILURE(startSlowBurn(burn, completion));
    // The same engine, and another engine on the same drive.
    Completion second, erase;
    EXPECT_EQ(burn.engine.StartBurn(&Completion::callback, &second), 0);
    burn.engine.StartErase(1, &Completion::callback, &erase);
    EXPECT_EQ(erase.wait(1s), 1);
    BurnEngine other;
    ASSERT_EQ(other.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
    ASSERT_EQ(other.SelectByIndex(0), 1);
    other.ResetProject();
    ASSERT_GT(other.PrepareImage(), 0);
    EXPECT_EQ(other.StartBurn(&Completion::callback, &second), 0);
    EXPECT_EQ(second.calls(), 0);
    burn.engine.Abort();
    EXPECT_EQ(completion.wait(), 1);
}

TEST(BurnAbortTest, EraseWithoutARecorderFailsThroughItsCallback) {
    BurnEngine engine;
    if (engine.GetDeviceCount() != 0) GTEST_SKIP() << "this machine has a recorder";
    Completion completion;
    EXPECT_EQ(engine.StartErase(1, &Completion::callback, &completion), 1);
    EXPECT_EQ(completion.wait(5s), 1);
    EXPECT_EQ(engine.GetJobState(), JobIdle);
}

TEST(BurnCloseOnlyTest, ClosesTheOpenSessionWithoutWriting) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdPlusR);
    std::string source = makeSourceTree(burn.dir);
    // A burn whose closing the recorder refuses leaves its session open.
    ASSERT_NO_FATAL_FAILURE(burn.attach("op:5B:05/24/00"));
    burn.engine.ResetProject();
    ASSERT_NE(burn.engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0), nullptr);
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    Completion failed;
    ASSERT_EQ(startAndWait(burn.engine, failed), 1) << "a closing refused must fail the burn";
    EXPECT_STREQ(burn.engine.GetLastErrorText(), "Hardware Error 9216");
    burn.detach();
    EXPECT_EQ(burn.openDisc()->layout().closedSessions, 0u);

    ASSERT_NO_FATAL_FAILURE(burn.attach());
    burn.engine.ResetProject();
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    burn.engine.SetCloseOnly();
    Completion closed;
    ASSERT_EQ(startAndWait(burn.engine, closed), 0) << burn.journalText();
    EXPECT_TRUE(writesOf(burn.journalLines(), false).empty());
    EXPECT_EQ(closingCommands(burn.journalLines()), (std::vector<std::string>{"f1 t1", "f2 t255"}));
    std::string image = burn.exportSession();
    EXPECT_EQ(burn.openDisc()->layout().closedSessions, 1u);
    EXPECT_EQ(readersDisagree(image, source), "");
}

TEST(BurnFromImageTest, MillionByteImageIsSixteenWritesFromZeroPaddedWithZeros) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdPlusR);
    std::string imagePath = burn.dir.file("image.bin", std::string(1000000, '\x5A'));
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    Completion completion;
    ASSERT_EQ(burn.engine.StartBurnFromImage(imagePath.c_str(), &Completion::callback, &completion), 1);
    ASSERT_EQ(completion.wait(), 0) << burn.journalText();
    EXPECT_EQ(burn.engine.GetImageBlocks(), 512);
    std::vector<Write> expected;
    for (std::uint32_t lba = 0; lba < 512; lba += 32) expected.push_back({lba, 32});
    EXPECT_EQ(writesOf(burn.journalLines()), expected);

    std::string image = burn.exportSession();
    std::vector<std::uint8_t> disc = readAll(image);
    ASSERT_GE(disc.size(), 512u * 2048);
    EXPECT_TRUE(std::all_of(disc.begin(), disc.begin() + 1000000, [](std::uint8_t b) { return b == 0x5A; }));
    EXPECT_TRUE(std::all_of(disc.begin() + 1000000, disc.begin() + 512 * 2048, [](std::uint8_t b) { return b == 0; }))
        << "the blocks past the end of the file must be zeros";
}

TEST(BurnFromImageTest, ImageWrittenToAFileBurnsToTheSameBlocksAsADirectBurn) {
    VirtualBurn direct, fromImage;
    std::string source = makeSourceTree(direct.dir);
    direct.makeDisc(MediumKind::DvdPlusR);
    ASSERT_NO_FATAL_FAILURE(direct.attach());
    direct.engine.ResetProject();
    ASSERT_NE(direct.engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0), nullptr);
    ASSERT_GT(direct.engine.PrepareImage(), 0);
    std::string file = direct.dir.str() + "/written.iso";
    Completion written, burned;
    ASSERT_EQ(direct.engine.StartWriteImage(file.c_str(), &Completion::callback, &written), 1);
    ASSERT_EQ(written.wait(), 0);

    fromImage.makeDisc(MediumKind::DvdPlusR);
    ASSERT_NO_FATAL_FAILURE(fromImage.attach());
    ASSERT_EQ(fromImage.engine.StartBurnFromImage(file.c_str(), &Completion::callback, &burned), 1);
    ASSERT_EQ(burned.wait(), 0);
    std::vector<std::uint8_t> onDisc = readAll(fromImage.exportSession());
    std::vector<std::uint8_t> inFile = readAll(file);
    ASSERT_GE(onDisc.size(), inFile.size());
    onDisc.resize(inFile.size());
    EXPECT_TRUE(onDisc == inFile);
}

TEST(BurnOptionsTest, TestWriteLeavesTheDiscAsItWas) {
    for (MediumKind kind : {MediumKind::CdR, MediumKind::DvdR}) {
        SCOPED_TRACE(vrec::mediumInfo(kind).name);
        VirtualBurn burn;
        burn.makeDisc(kind);
        std::string before = vrec::DiscStore::layoutText(burn.openDisc()->layout());
        std::string source = makeSourceTree(burn.dir);
        ASSERT_NO_FATAL_FAILURE(burn.attach());
        burn.engine.SetTestWrite(1);
        burn.engine.ResetProject();
        ASSERT_NE(burn.engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0), nullptr);
        ASSERT_GT(burn.engine.PrepareImage(), 0);
        Completion completion;
        ASSERT_EQ(startAndWait(burn.engine, completion), 0) << burn.journalText();
        EXPECT_FALSE(writesOf(burn.journalLines()).empty());
        burn.detach();
        EXPECT_EQ(vrec::DiscStore::layoutText(burn.openDisc()->layout()), before);
    }
}

// A test write formats nothing, so a sequential DVD-RW stays sequential.
// The writer once counted it as overwritable all the same: it sent the
// first chunk to address 0 and then again as the track's first write, and
// the recorder refused the second with Hardware Error 8450 (invalid address
// for write).
TEST(BurnOptionsTest, TestWriteOnBlankSequentialDvdRwWritesAddressZeroOnce) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdRwSequential);
    std::string before = vrec::DiscStore::layoutText(burn.openDisc()->layout());
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    ASSERT_EQ(burn.engine.GetDiscType(), DiscDvdRwSequential);
    ASSERT_NO_FATAL_FAILURE(planStreamOf(burn.engine, 8 * ChunkBlocks));
    burn.engine.SetTestWrite(1);
    Completion completion;
    ASSERT_EQ(startAndWait(burn.engine, completion), 0) << burn.journalText();
    EXPECT_EQ(burn.engine.GetLastErrorCode(), 0);
    std::vector<Write> writes = writesOf(burn.journalLines(), false);
    ASSERT_EQ(writes.size(), 8u) << burn.journalText();
    for (std::uint32_t i = 0; i < writes.size(); ++i) EXPECT_EQ(writes[i], (Write{i * ChunkBlocks, ChunkBlocks}));
    burn.detach();
    EXPECT_EQ(vrec::DiscStore::layoutText(burn.openDisc()->layout()), before);
}

TEST(BurnOptionsTest, TestWriteIsRefusedWhereTheMediumWouldRecordForReal) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdPlusRw);
    std::string before = vrec::DiscStore::layoutText(burn.openDisc()->layout());
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    burn.engine.SetTestWrite(1);
    burn.engine.ResetProject();
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    Completion completion;
    EXPECT_EQ(burn.engine.StartBurn(&Completion::callback, &completion), 0);
    EXPECT_EQ(burn.engine.GetLastErrorCode(), 0x2600);
    burn.detach();
    EXPECT_EQ(vrec::DiscStore::layoutText(burn.openDisc()->layout()), before);
}

TEST(BurnOptionsTest, FourTimesCdSpeedTakesTheTimeFourTimesImpliesOnTheRecordersClock) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::CdR);
    // The recorder's manual clock moves only while the drive waits for its
    // medium, so the time between WRITEs is the write speed's alone.
    ::setenv("VELK_VIRTUAL_CLOCK", "manual", 1);
    ASSERT_NO_FATAL_FAILURE(burn.attach());
    const std::uint32_t kbps = vrec::speedKbps(true, 4);
    ASSERT_EQ(burn.engine.SetSpeeds(0, static_cast<std::uint16_t>(kbps)), 1);
    burn.engine.ResetProject();
    ASSERT_NE(addVirtual(burn.engine.project(), u"\\", u"speed.bin", 24u << 20), nullptr);
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    Completion completion;
    ASSERT_EQ(burn.engine.StartBurn(&Completion::callback, &completion), 1);
    ASSERT_EQ(completion.wait(), 0);
    // The rate is taken from the first WRITE once the drive buffer (2 MiB)
    // has filled to the last, at the times the drive answered them.
    using CommandSecondsFn = double (*)(std::size_t, std::size_t);
    auto commandSeconds = reinterpret_cast<CommandSecondsFn>(
        platform::findSymbol(platform::loadLibrary(PluginPath), "vrecCommandSeconds"));
    ASSERT_NE(commandSeconds, nullptr);
    const auto lines = burn.journalLines();
    std::uint32_t firstEnd = 0, lastEnd = 0;
    double firstSeconds = -1, lastSeconds = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].opcode() != 0x2A || lines[i].cdb.size() < 10 || !lines[i].good()) continue;
        const std::uint32_t end = vrec::getBe32(&lines[i].cdb[2]) + vrec::getBe16(&lines[i].cdb[7]);
        if (end < 2048) continue;
        const double seconds = commandSeconds(0, i);
        if (firstSeconds < 0) {
            firstEnd = end;
            firstSeconds = seconds;
        }
        lastEnd = end;
        lastSeconds = seconds;
    }
    ASSERT_GT(lastSeconds, firstSeconds) << burn.journalText();
    double rate = (lastEnd - firstEnd) * 2048.0 / (lastSeconds - firstSeconds);
    double expected = vrec::userBytesPerSecond(true, kbps);
    EXPECT_NEAR(rate / expected, 1.0, 0.01) << rate << " bytes/s against " << expected;
}

// "async": the drive answers from its own thread, so BUSY also arrives
// through a completion event set elsewhere.
TEST(BurnRetryTest, LongWriteInProgressAndBusyDelayTheBurnWithoutFailingIt) {
    for (const char* plan : {"long-write:3", "busy-every:2A:3", "async,busy-every:2A:3"}) {
        SCOPED_TRACE(plan);
        VirtualBurn burn;
        burn.makeDisc(MediumKind::DvdPlusR);
        std::string source = makeSourceTree(burn.dir);
        ASSERT_NO_FATAL_FAILURE(burn.attach(plan));
        burn.engine.ResetProject();
        ASSERT_NE(burn.engine.AddDirectory("\\", source.c_str(), "*.*", 1, 0), nullptr);
        ASSERT_GT(burn.engine.PrepareImage(), 0);
        Completion completion;
        ASSERT_EQ(startAndWait(burn.engine, completion), 0) << burn.journalText();
        std::vector<Write> all = writesOf(burn.journalLines(), false);
        std::vector<Write> good = writesOf(burn.journalLines());
        EXPECT_GT(all.size(), good.size()) << "the recorder never answered busy";
        EXPECT_EQ(readersDisagree(burn.exportSession(), source), "");
    }
}

TEST(BurnRetryTest, RecorderThatStaysNotReadyFailsTheBurnWithItsSense) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::CdR);
    ASSERT_NO_FATAL_FAILURE(burn.attach("op:51:02/04/07", 10000.0));
    burn.engine.ResetProject();
    ASSERT_GT(burn.engine.PrepareImage(), 0);
    Completion completion;
    EXPECT_EQ(startAndWait(burn.engine, completion), 1);
    EXPECT_STREQ(burn.engine.GetLastErrorText(), "Hardware Error 1031");
}

// With a real drive on the machine: the burn preparation reads its disc
// without writing (a test write would be refused on most media, so only the
// queries of the set-up run).
TEST(RealDriveTest, PreparationReadsTheDiscWithoutWriting) {
    BurnEngine engine;
    if (engine.GetDeviceCount() == 0 || engine.device().sptiMode != 1) GTEST_SKIP() << "no optical drive";
    ASSERT_EQ(engine.SelectByIndex(0), 1);
    DiscType type = engine.GetDiscType();
    if (type == DiscNone) GTEST_SKIP() << "no disc in the drive";
    EXPECT_GE(engine.GetSessionCount(), 0);
    EXPECT_GE(engine.GetDiscCapacity(), 0);
    (void)engine.GetFreeBlocks();
    (void)engine.GetIsoVolumeSize();
}

}  // namespace
}  // namespace velk::testing
