#include "image/TestImageWriter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/image/HeaderGenerator.h"
#include "engine/image/Layout.h"
#include "engine/image/SourceTree.h"
#include "engine/image/UdfFiles.h"
#include "platform/Text.h"

namespace velk::testing {
namespace {

using image::BlockBytes;

// Runs of zero bytes become holes, so an image that carries a big sparse
// file stays sparse itself.
class BlockSink {
public:
    explicit BlockSink(const std::string& path)
        : path_(path), out_(path, std::ios::binary | std::ios::trunc) {}
    bool ok() const { return static_cast<bool>(out_); }
    std::uint64_t block() const { return bytes_ / BlockBytes; }
    bool onBlockBoundary() const { return bytes_ % BlockBytes == 0; }

    void write(const std::uint8_t* data, std::size_t length) {
        bytes_ += length;
        if (std::all_of(data, data + length, [](std::uint8_t b) { return b == 0; })) {
            hole_ += length;
            return;
        }
        if (hole_ > 0) out_.seekp(static_cast<std::streamoff>(hole_), std::ios::cur);
        hole_ = 0;
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
    }
    // Closes the file at its full length (a trailing hole included).
    bool finish() {
        out_.close();
        std::error_code error;
        std::filesystem::resize_file(path_, bytes_, error);
        return !error && !out_.fail();
    }
    void zeros(std::uint64_t length) {
        static const std::uint8_t Zero[BlockBytes] = {};
        while (length > 0) {
            std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(length, BlockBytes));
            write(Zero, part);
            length -= part;
        }
    }
    void padToBlock() {
        if (!onBlockBoundary()) zeros(BlockBytes - bytes_ % BlockBytes);
    }

private:
    std::string path_;
    std::ofstream out_;
    std::uint64_t bytes_ = 0;
    std::uint64_t hole_ = 0;  // zero bytes not yet written
};

std::string expectBlock(const BlockSink& sink, std::uint64_t planned, const char* what) {
    if (sink.block() == planned) return {};
    return std::string(what) + " starts at block " + std::to_string(sink.block()) +
           ", planned " + std::to_string(planned);
}

// Writes `size` bytes of a file's data: from its source file, or from its
// callback for a virtual file. A source that ends early is zero-filled.
std::string writeFileData(BlockSink& sink, FileItem& item) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::uint64_t done = 0;
    if (item.dataCallback) {
        while (done < item.size) {
            auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(buffer.size(), item.size - done));
            std::uint32_t asked = count;
            // The callback's result and the count it leaves are not examined.
            item.dataCallback(&item, static_cast<std::uint32_t>(done), buffer.data(), &count,
                              item.callbackContext);
            sink.write(buffer.data(), asked);
            done += asked;
        }
        return {};
    }
    std::ifstream in(sourceOpenPath(item), std::ios::binary);
    while (in && done < item.size) {
        auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), item.size - done));
        in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(want));
        auto got = static_cast<std::size_t>(in.gcount());
        sink.write(buffer.data(), got);
        done += got;
        if (got < want) break;
    }
    sink.zeros(item.size - done);
    return {};
}

}  // namespace

std::string writeTestImage(ImageProject& project, const std::string& path,
                           const TestImageOptions& options) {
    if (!image::GenerateHeader(project, options.startLba, options.startLba)) {
        return "header generation failed, error " + std::to_string(project.pendingError.load());
    }
    BlockSink sink(path);
    if (!sink.ok()) return "cannot create " + path;
    const LayoutPlan& plan = project.plan;

    sink.write(project.headerBuffer.get(), project.headerBytes);
    if (std::string e = expectBlock(sink, plan.headerBlocks, "header end"); !e.empty()) return e;

    if (!project.bootImagePath.empty()) {
        if (auto e = expectBlock(sink, plan.bootImageBlock, "boot image"); !e.empty()) return e;
        std::ifstream in(project.bootImagePath, std::ios::binary);
        std::vector<char> bytes(project.bootImageSize);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        sink.write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        sink.padToBlock();
    }

    if (project.udfOn) {
        if (auto e = expectBlock(sink, project.udf.areaStart, "UDF area"); !e.empty()) return e;
        std::uint32_t left = project.udf.areaBlocks;
        std::vector<std::uint8_t> blocks(255 * BlockBytes);
        for (std::size_t call = 0; left > 0; ++call) {
            std::uint32_t k = options.udfCallSizes[call % options.udfCallSizes.size()];
            k = std::min(k, left);
            if (!image::produceUdfBlocks(project, blocks.data(), k)) return "UDF generator ended early";
            sink.write(blocks.data(), std::size_t{k} * BlockBytes);
            left -= k;
        }
        if (!image::udfAreaDone(project)) return "UDF generator not done after the planned blocks";
    }

    if (auto e = expectBlock(sink, plan.dataStart, "file data"); !e.empty()) return e;
    for (auto& item : project.itemTable) {
        if (item->isFolder() || item->size == 0 || item->fixedBlock) continue;
        if (auto e = expectBlock(sink, plan.dataStart + std::uint64_t{item->dataBlock}, "a file");
            !e.empty()) {
            return e;
        }
        if (auto e = writeFileData(sink, *item); !e.empty()) return e;
        sink.padToBlock();
    }
    if (auto e = expectBlock(sink, std::uint64_t{plan.dataStart} + plan.dataBlocks, "data end");
        !e.empty()) {
        return e;
    }
    const std::uint64_t lastBlock = plan.imageBlocks - (project.udfOn ? 1 : 0);
    if (sink.block() > lastBlock) return "file data runs past the image end";
    sink.zeros((lastBlock - sink.block()) * BlockBytes);
    if (project.udfOn) {
        std::uint8_t anchor[BlockBytes];
        image::writeClosingAnchor(project, anchor);
        sink.write(anchor, BlockBytes);
    }
    if (sink.block() != plan.imageBlocks) return "image length differs from the plan";
    return sink.finish() ? std::string() : "write failed";
}

}  // namespace velk::testing
