// The producer thread and its chunk queue, driven directly: back-pressure
// limits, sealing rules, the closing anchor chunk, stops.
#include "engine/jobs/Producer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/image/HeaderGenerator.h"
#include "engine/image/ImageOperations.h"
#include "image/ImageTestSupport.h"
#include "jobs/JobTestSupport.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

using namespace std::chrono_literals;

class ProducerTest : public ::testing::Test {
protected:
    void SetUp() override { project = newProject(); }
    void TearDown() override {
        project->jobs.stopRequested = 1;
        EXPECT_TRUE(waitForJobThreads(*project));
    }

    void start(int bufferSize = 33554432) {
        ASSERT_GT(image::PrepareImage(*project), 0);
        ASSERT_EQ(image::GenerateHeader(*project, 0, 0), 1);
        project->jobs.bufferSize = bufferSize;
        project->jobs.stopRequested = 0;
        ASSERT_TRUE(jobs::StartProducer(*project));
    }
    bool waitFor(auto condition, std::chrono::milliseconds limit = 20000ms) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    // Takes every chunk as a writer would; returns their lengths.
    std::vector<std::int32_t> drain(std::vector<std::uint8_t>* stream = nullptr) {
        std::vector<std::int32_t> lengths;
        std::vector<std::uint8_t> buffer(ChunkBytes);
        for (;;) {
            std::int32_t length = jobs::TakeChunk(*project, buffer.data());
            if (length == 0) break;
            if (length < 0) {
                std::this_thread::sleep_for(1ms);
                continue;
            }
            lengths.push_back(length);
            if (stream) stream->insert(stream->end(), buffer.begin(), buffer.begin() + length);
            project->jobs.blocksWritten += static_cast<std::uint32_t>(length) / 2048;
        }
        return lengths;
    }

    std::unique_ptr<ImageProject> project;
};

TEST_F(ProducerTest, FilePiecesStopAtOneBelowTheLimit) {
    project->udfOn = 0;
    addVirtual(*project, u"\\", u"big.bin", 40u << 20);
    start();
    EXPECT_EQ(project->jobs.maxChunks, 512u);
    ASSERT_TRUE(waitFor([&] { return project->jobs.bufferPrimed.load() != 0; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(project->jobs.chunkCount.load(), 511);
    EXPECT_LE(project->jobs.chunkCount.load() * 65536, project->jobs.bufferSize.load());
}

TEST_F(ProducerTest, UdfPiecesFillTheWholeQueue) {
    // A 2 MiB buffer holds 32 chunks; 1,200 empty files give a UDF area of
    // more than 1,024 blocks, so the producer waits inside it.
    for (int i = 0; i < 1200; ++i) {
        // Built in place: g++ 12 at -O3 warns falsely (-Wrestrict) about
        // "literal" + string.
        std::u16string name(1, u'f');
        name += static_cast<char16_t>(u'A' + i % 26);
        name += u'_';
        name.append(4, static_cast<char16_t>(u'a' + i / 26 % 26));
        name += static_cast<char16_t>(u'0' + i / 676);
        addVirtual(*project, u"\\", name, 0);
    }
    start(2097152);
    ASSERT_GT(project->udf.areaBlocks, 1100u);
    ASSERT_TRUE(waitFor([&] { return project->jobs.bufferPrimed.load() != 0; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(project->jobs.chunkCount.load(), 32);
}

TEST_F(ProducerTest, StopWhileTheQueueIsFullFreesEveryChunk) {
    project->udfOn = 0;
    addVirtual(*project, u"\\", u"big.bin", 8u << 20);
    start(2097152);
    ASSERT_TRUE(waitFor([&] { return project->jobs.bufferPrimed.load() != 0; }));
    // Nobody takes a chunk: the producer, waiting for room, sees the flag
    // (its waits look at it every 20 ms) and ends on its own.
    project->jobs.stopRequested = 1;
    ASSERT_TRUE(waitFor([&] { return project->jobs.producerFinished.load() != 0; }));
    EXPECT_EQ(project->jobs.chunkCount.load(), 0);
    std::vector<std::uint8_t> buffer(ChunkBytes);
    EXPECT_EQ(jobs::TakeChunk(*project, buffer.data()), 0);
}

TEST_F(ProducerTest, OneByteFileSealsAShortLastChunkWithoutUdf) {
    project->udfOn = 0;
    addVirtual(*project, u"\\", u"one.bin", 1);
    start();
    std::vector<std::int32_t> lengths = drain();
    // 150 header blocks and one data block: four full chunks and 23 blocks.
    EXPECT_EQ(lengths, (std::vector<std::int32_t>{65536, 65536, 65536, 65536, 23 * 2048}));
}

TEST_F(ProducerTest, OneByteFileWithUdfEndsWithTheAnchorInTheLastBlock) {
    addVirtual(*project, u"\\", u"one.bin", 1);
    start();
    std::vector<std::uint8_t> stream;
    std::vector<std::int32_t> lengths = drain(&stream);
    ASSERT_FALSE(lengths.empty());
    EXPECT_EQ(lengths.back(), 65536);
    EXPECT_EQ(stream.size(), std::size_t{project->plan.imageBlocks} * 2048);
    // Descriptor tag 2 (anchor volume descriptor pointer) in the last block.
    const std::uint8_t* anchor = stream.data() + stream.size() - 2048;
    EXPECT_EQ(anchor[0] | anchor[1] << 8, 2);
}

TEST_F(ProducerTest, DataEndingOnAChunkBoundaryGetsAnAnchorChunkOfItsOwn) {
    // Size the one file so that the data ends exactly on a chunk boundary.
    FileItem* fill = addVirtual(*project, u"\\", u"fill.bin", 2048);
    ASSERT_GT(image::PrepareImage(*project), 0);
    std::uint32_t dataStart = project->plan.dataStart;
    std::uint32_t dataEnd = (dataStart / 32 + 1) * 32;
    fill->size = std::uint64_t{dataEnd - dataStart} * 2048;
    start();
    ASSERT_EQ(project->plan.dataEndsOnChunk, 1u);
    std::vector<std::uint8_t> stream;
    std::vector<std::int32_t> lengths = drain(&stream);
    EXPECT_EQ(lengths.size(), dataEnd / 32 + 1);
    EXPECT_EQ(project->plan.imageBlocks, dataEnd + 32);
    EXPECT_EQ(stream.size(), std::size_t{dataEnd + 32} * 2048);
    const std::uint8_t* anchor = stream.data() + stream.size() - 2048;
    EXPECT_EQ(anchor[0] | anchor[1] << 8, 2);
}

TEST_F(ProducerTest, TakeChunkWaitsForTheLastChunkToBeSealed) {
    project->udfOn = 0;
    start();
    ASSERT_TRUE(waitFor([&] { return project->jobs.lastChunkSealed.load() != 0; }));
    // The whole header is queued; hold the last chunk back as if unsealed.
    std::vector<std::uint8_t> buffer(ChunkBytes);
    while (project->jobs.chunkCount.load() > 1) {
        std::int32_t length = jobs::TakeChunk(*project, buffer.data());
        ASSERT_GT(length, 0);
        project->jobs.blocksWritten += static_cast<std::uint32_t>(length) / 2048;
    }
    project->jobs.lastChunkSealed = 0;
    EXPECT_EQ(jobs::TakeChunk(*project, buffer.data()), -1);
    project->jobs.lastChunkSealed = 1;
    EXPECT_GT(jobs::TakeChunk(*project, buffer.data()), 0);
}

TEST_F(ProducerTest, ImageFileIsStreamedInWholeChunks) {
    TempDir dir;
    std::string path = dir.file("image.iso", std::string(1000000, 'i'));
    project->jobs.fromFile = 1;
    project->jobs.imageFile = std::fopen(path.c_str(), "rb");
    ASSERT_NE(project->jobs.imageFile, nullptr);
    project->jobs.bufferSize = 33554432;
    project->jobs.stopRequested = 0;
    ASSERT_TRUE(jobs::StartProducer(*project));
    std::vector<std::uint8_t> stream;
    std::vector<std::int32_t> lengths = drain(&stream);
    EXPECT_EQ(project->plan.imageBlocks, 512u);  // 489 blocks rounded up to 512
    EXPECT_EQ(lengths, std::vector<std::int32_t>(16, 65536));
    EXPECT_EQ(std::count(stream.begin(), stream.begin() + 1000000, 'i'), 1000000);
    EXPECT_EQ(std::count(stream.begin() + 1000000, stream.end(), 0), static_cast<long>(stream.size() - 1000000));
}

}  // namespace
}  // namespace velk::testing
