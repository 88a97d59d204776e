// Writing the project's image to a file through the producer and writer
// threads: the bytes, the length, and the failures a user can meet.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/api/BurnEngine.h"
#include "image/ImageTestSupport.h"
#include "image/TestImageWriter.h"
#include "jobs/JobTestSupport.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

struct ImageCase {
    const char* name;
    bool udf;
    bool joliet;
    bool longNames;
    bool boot;
    bool virtualFiles;
};

class ImageFileJobTest : public ::testing::TestWithParam<ImageCase> {};

void fillTree(BurnEngine& engine, const TempDir& dir, bool virtualFiles) {
    dir.file("src/empty.txt", "");
    dir.file("src/one.bin", "x");
    dir.file("src/block.bin", std::string(2048, 'b'));
    dir.file("src/block+1.bin", std::string(2049, 'c'));
    dir.file("src/a/b/c/deep.txt", "deep");
    dir.file("src/Música/Καλημέρα.txt", "greek");
    dir.file("src/" + std::string(90, 'L') + ".txt", "long");
    ASSERT_NE(engine.AddDirectory("\\", (dir.str() + "/src").c_str(), "*.*", 1, 0), nullptr);
    if (virtualFiles) {
        ImageProject& project = engine.project();
        ASSERT_NE(addVirtual(project, u"\\a", u"generated.bin", 200000), nullptr);
        ASSERT_NE(addVirtual(project, u"\\", u"chunk.bin", 65536), nullptr);
    }
}

TEST_P(ImageFileJobTest, WrittenImageMatchesTheReferenceWriter) {
    const ImageCase& c = GetParam();
    TempDir dir;
    BurnEngine engine;
    engine.ResetProjectEx(c.longNames ? 1 : 0, 0);
    engine.SetUdfBridge(c.udf ? 1 : 0);
    engine.SetJoliet(c.joliet ? 1 : 0);
    engine.SetVolumeLabel("JOB TEST");
    fillTree(engine, dir, c.virtualFiles);
    if (c.boot) {
        std::string loader = dir.file("boot.img", std::string(2048, '\x90'));
        ASSERT_EQ(engine.SetBootImage(loader.c_str()), 1);
    }
    int blocks = engine.PrepareImage();
    ASSERT_GT(blocks, 0);

    std::string expectedPath = dir.str() + "/expected.iso";
    ASSERT_EQ(writeTestImage(engine.project(), expectedPath), "");

    std::string imagePath = dir.str() + "/job.iso";
    Completion completion;
    ASSERT_EQ(engine.StartWriteImage(imagePath.c_str(), Completion::callback, &completion), 1);
    EXPECT_EQ(completion.wait(), 0);
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_EQ(engine.GetJobState(), JobIdle);
    EXPECT_EQ(engine.GetBlocksWritten(), engine.GetImageBlocks());

    std::vector<std::uint8_t> image = readAll(imagePath);
    EXPECT_EQ(image.size(), static_cast<std::size_t>(engine.GetImageBlocks()) * 2048);
    std::string where;
    EXPECT_TRUE(sameImageApartFromDates(image, readAll(expectedPath), &where)) << where;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, ImageFileJobTest,
    ::testing::Values(ImageCase{"Udf", true, true, false, false, false},
                      ImageCase{"NoUdf", false, true, false, false, false},
                      ImageCase{"NoJoliet", true, false, false, false, false},
                      ImageCase{"Boot", true, true, false, true, false},
                      ImageCase{"BootNoUdf", false, true, false, true, false},
                      ImageCase{"Virtual", true, true, false, false, true},
                      ImageCase{"VirtualNoUdf", false, true, false, false, true},
                      ImageCase{"LongNames", true, true, true, false, true}),
    [](const ::testing::TestParamInfo<ImageCase>& info) { return std::string(info.param.name); });

TEST(ImageFileJobErrors, FolderThatDoesNotExist) {
    BurnEngine engine;
    engine.PrepareImage();
    std::string path = "/nonexistent-velk-folder/out.iso";
    Completion completion;
    EXPECT_EQ(engine.StartWriteImage(path.c_str(), Completion::callback, &completion), 0);
    EXPECT_EQ(engine.GetLastErrorText(), "Error creating file \"" + path + "\"");
    EXPECT_STREQ(engine.GetLastSystemErrorText(), "No such file or directory");
    EXPECT_EQ(completion.calls(), 0);
}

TEST(ImageFileJobErrors, UnplannedProjectIsRefused) {
    TempDir dir;
    BurnEngine engine;
    std::string path = dir.str() + "/out.iso";
    EXPECT_EQ(engine.StartWriteImage(path.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNotPrepared);
}

TEST(ImageFileJobErrors, SourceDeletedAfterPlanningNamesTheFile) {
    TempDir dir;
    BurnEngine engine;
    std::string first = dir.file("first.bin", std::string(5000, 'f'));
    std::string gone = dir.file("gone.bin", std::string(5000, 'g'));
    engine.AddFile("\\", first.c_str());
    engine.AddFile("\\", gone.c_str());
    ASSERT_GT(engine.PrepareImage(), 0);
    std::filesystem::remove(gone);

    Completion completion;
    int started = engine.StartWriteImage((dir.str() + "/out.iso").c_str(), Completion::callback, &completion);
    if (started) {
        EXPECT_EQ(completion.wait(), 1);
    }
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_EQ(engine.GetLastErrorText(), "Error opening file \"" + gone + "\"");
    EXPECT_EQ(engine.project().jobs.chunkCount.load(), 0);
}

TEST(ImageFileJobErrors, ReadErrorPartWayStopsTheJob) {
    TempDir dir;
    BurnEngine engine;
    std::string path = dir.file("data.bin", std::string(100000, 'd'));
    engine.AddFile("\\", path.c_str());
    ASSERT_GT(engine.PrepareImage(), 0);
    // A folder in its place opens but cannot be read.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);

    Completion completion;
    int started = engine.StartWriteImage((dir.str() + "/out.iso").c_str(), Completion::callback, &completion);
    if (started) {
        EXPECT_EQ(completion.wait(), 1);
    }
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_EQ(engine.GetLastErrorCode(), ErrOpenFile);
}

TEST(ImageFileJobErrors, FullDiskFailsTheJob) {
    TempDir dir;
    BurnEngine engine;
    engine.SetUdfBridge(0);
    ASSERT_NE(addVirtual(engine.project(), u"\\", u"big.bin", 4 << 20), nullptr);
    ASSERT_GT(engine.PrepareImage(), 0);
    std::string path = dir.str() + "/out.iso";

    dir.file("out.iso", "the old image");
    // A file-size limit behaves like a full disk: writes past 1 MiB fail.
    // The engine itself keeps the limit's signal from ending the process.
    struct rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct rlimit limited = previous;
    limited.rlim_cur = 1 << 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    Completion completion;
    int started = engine.StartWriteImage(path.c_str(), Completion::callback, &completion);
    int failed = started ? completion.wait() : -2;
    bool ended = waitForJobThreads(engine.project());
    setrlimit(RLIMIT_FSIZE, &previous);

    ASSERT_EQ(started, 1);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(ended);
    EXPECT_EQ(engine.GetLastErrorText(), "Error creating file \"" + path + "\"");
    EXPECT_STREQ(engine.GetLastSystemErrorText(), "File too large");
    std::vector<std::uint8_t> left = readAll(path);
    EXPECT_EQ(std::string(left.begin(), left.end()), "the old image");
}

TEST(ImageFileJobAbort, AbortWithAFullQueueEndsTheProducerAndFreesTheChunks) {
    TempDir dir;
    BurnEngine engine;
    engine.SetUdfBridge(0);
    ASSERT_NE(addVirtual(engine.project(), u"\\", u"big.bin", 64u << 20), nullptr);
    ASSERT_GT(engine.PrepareImage(), 0);
    // A pipe that nobody reads yet: the writer blocks on it and the queue fills.
    std::string pipe = dir.str() + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    Completion completion;
    ASSERT_EQ(engine.StartWriteImage(pipe.c_str(), Completion::callback, &completion), 1);
    JobFields& jobs = engine.project().jobs;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((jobs.chunkCount.load() < 511 || engine.GetJobState() != JobWriting) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // No ASSERT before the pipe is drained: the writer blocked on it must be
    // let go for the engine to end.
    EXPECT_EQ(jobs.chunkCount.load(), 511);
    EXPECT_EQ(engine.GetJobState(), JobWriting);

    engine.Abort();
    EXPECT_EQ(engine.GetJobState(), JobAborted);
    // The producer ends while the writer is still blocked on the pipe: it
    // does not wait for the writer to take its chunks.
    while (!jobs.producerFinished.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(jobs.producerFinished.load());
    EXPECT_EQ(engine.GetBufferFill(), 0);

    // Let the writer finish the write it is blocked in; it then ends the job.
    ::fcntl(reader, F_SETFL, 0);
    char drain[65536];
    while (::read(reader, drain, sizeof drain) > 0) {
    }
    ::close(reader);
    EXPECT_EQ(completion.wait(), 1);
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_STREQ(engine.GetLastErrorText(), "Aborted by user");
    EXPECT_EQ(engine.GetJobState(), JobIdle);
}

// Regression: a file that became shorter was written with zeros in place of
// its end and the job reported success.
TEST(ImageFileJobData, ShrunkFileFailsTheJobAndLeavesTheOldImage) {
    TempDir dir;
    BurnEngine engine;
    std::string shrinks = dir.file("shrinks.bin", std::string(10000, 'S'));
    engine.AddFile("\\", shrinks.c_str());
    ASSERT_GT(engine.PrepareImage(), 0);
    std::filesystem::resize_file(shrinks, 3000);

    std::string path = dir.file("out.iso", "the old image");
    Completion completion;
    // It fails before the buffer is primed (no callback) or after.
    if (engine.StartWriteImage(path.c_str(), Completion::callback, &completion) == 1) {
        EXPECT_EQ(completion.wait(), 1);
    }
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_EQ(engine.GetLastErrorText(), "File changed while it was read \"" + shrinks + "\"");
    std::vector<std::uint8_t> left = readAll(path);
    EXPECT_EQ(std::string(left.begin(), left.end()), "the old image");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary file was left";
}

TEST(ImageFileJobData, GrownFileIsCutAtItsPlannedSizeAndNamed) {
    TempDir dir;
    BurnEngine engine;
    engine.SetUdfBridge(0);
    std::string grows = dir.file("grows.bin", std::string(3000, 'G'));
    engine.AddFile("\\", grows.c_str());
    ASSERT_GT(engine.PrepareImage(), 0);
    dir.file("grows.bin", std::string(9000, 'G'));

    std::string path = dir.str() + "/out.iso";
    Completion completion;
    ASSERT_EQ(engine.StartWriteImage(path.c_str(), Completion::callback, &completion), 1);
    EXPECT_EQ(completion.wait(), 0);
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    ASSERT_EQ(engine.project().jobs.grownFiles.size(), 1u);
    EXPECT_EQ(engine.project().jobs.grownFiles[0], platform::toUtf16(grows));

    std::vector<std::uint8_t> image = readAll(path);
    const ImageProject& project = engine.project();
    const FileItem& item = *project.itemTable[0];
    std::size_t start = (project.plan.dataStart + item.dataBlock) * std::size_t{2048};
    std::vector<std::uint8_t> grown(image.begin() + static_cast<long>(start),
                                    image.begin() + static_cast<long>(start + 2 * 2048));
    EXPECT_EQ(std::string(grown.begin(), grown.begin() + 3000), std::string(3000, 'G'));
    EXPECT_EQ(std::count(grown.begin() + 3000, grown.end(), 0), static_cast<long>(grown.size() - 3000));
}

TEST(ImageFileJobOutput, FailedOrAbortedJobsLeaveNoPartialImageAndTheOldOneIntact) {
    for (bool abort : {false, true}) {
        SCOPED_TRACE(abort ? "aborted" : "source vanished");
        TempDir dir;
        BurnEngine engine;
        engine.SetUdfBridge(0);
        std::string first = dir.file("src/first.bin", std::string(200000, 'f'));
        std::string gone = dir.file("src/gone.bin", std::string(5000, 'g'));
        engine.AddFile("\\", first.c_str());
        engine.AddFile("\\", gone.c_str());
        ASSERT_NE(addVirtual(engine.project(), u"\\", u"big.bin", 256u << 20), nullptr);
        ASSERT_GT(engine.PrepareImage(), 0);
        if (!abort) std::filesystem::remove(gone);
        std::string path = dir.file("out.iso", "the old image");

        Completion completion;
        int started = engine.StartWriteImage(path.c_str(), Completion::callback, &completion);
        if (abort) {
            ASSERT_EQ(started, 1);
            while (engine.GetBlocksWritten() < 64) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            engine.Abort();
        }
        if (started) {
            EXPECT_EQ(completion.wait(), 1);
        }
        ASSERT_TRUE(waitForJobThreads(engine.project()));
        std::vector<std::uint8_t> left = readAll(path);
        EXPECT_EQ(std::string(left.begin(), left.end()), "the old image");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "a temporary file was left";
    }
}

// Regression: an output named through a link (say /dev/stdout redirected to
// a file) replaced the link itself with the image.
TEST(ImageFileJobOutput, ThroughALinkTheImageReplacesTheFileItPointsTo) {
    TempDir dir;
    BurnEngine engine;
    ASSERT_GT(engine.PrepareImage(), 0);
    std::string real = dir.file("real.iso", "the old image");
    std::string link = dir.str() + "/link.iso";
    std::filesystem::create_symlink(real, link);
    Completion completion;
    ASSERT_EQ(engine.StartWriteImage(link.c_str(), Completion::callback, &completion), 1);
    EXPECT_EQ(completion.wait(), 0);
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readAll(real).size(), static_cast<std::size_t>(engine.GetImageBlocks()) * 2048);
}

TEST(ImageFileJobOutput, SucceededImageReplacesTheOldOneWithItsPermissions) {
    TempDir dir;
    BurnEngine engine;
    ASSERT_GT(engine.PrepareImage(), 0);
    std::string path = dir.file("out.iso", "the old image");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    Completion completion;
    ASSERT_EQ(engine.StartWriteImage(path.c_str(), Completion::callback, &completion), 1);
    EXPECT_EQ(completion.wait(), 0);
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    EXPECT_EQ(readAll(path).size(), static_cast<std::size_t>(engine.GetImageBlocks()) * 2048);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ImageFileJobData, StartsAtAddressZeroAfterAnAppendedSession) {
    TempDir dir;
    BurnEngine engine;
    ASSERT_GT(engine.PrepareImage(), 0);
    engine.project().plan.startLba = 5000;  // left by an earlier burn
    std::string path = dir.str() + "/out.iso";
    Completion completion;
    ASSERT_EQ(engine.StartWriteImage(path.c_str(), Completion::callback, &completion), 1);
    EXPECT_EQ(completion.wait(), 0);
    ASSERT_TRUE(waitForJobThreads(engine.project()));
    std::vector<std::uint8_t> image = readAll(path);
    // The root directory record of the primary descriptor points inside the image.
    const std::uint8_t* root = image.data() + 16 * 2048 + 156;
    std::uint32_t extent = root[2] | root[3] << 8 | root[4] << 16 | static_cast<std::uint32_t>(root[5]) << 24;
    EXPECT_EQ(extent, engine.project().plan.isoDirStart);
}

}  // namespace
}  // namespace velk::testing
