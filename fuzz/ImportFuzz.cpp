// libFuzzer target of the session import's parser: the input is a disc's
// blocks from block 0 (a short last block is padded with zeros), the session
// starts at block 0 and every block past the input fails to read. The import
// must end without a fault and read no more than the disc holds, and the
// tree it gives must plan and generate a header for the next session.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/image/HeaderGenerator.h"
#include "engine/image/ImageOperations.h"
#include "engine/image/Layout.h"
#include "engine/image/SessionImport.h"
#include "engine/image/SourceTree.h"

namespace {

velk::ImageProject& fuzzProject() {
    static std::unique_ptr<velk::ImageProject> project = velk::createProject();
    return *project;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using velk::image::BlockBytes;
    velk::ImageProject& project = fuzzProject();
    velk::resetProject(project, 0, 0);
    project.pendingError = 0;
    const auto blocks = static_cast<std::uint32_t>((size + BlockBytes - 1) / BlockBytes);
    std::uint32_t reads = 0;
    velk::image::BlockReader read = [&](std::uint32_t lba, std::uint8_t* out) {
        ++reads;
        if (lba >= blocks) return false;
        const std::size_t offset = std::size_t{lba} * BlockBytes;
        const std::size_t available = size - offset < BlockBytes ? size - offset : BlockBytes;
        std::memcpy(out, data + offset, available);
        std::memset(out + available, 0, BlockBytes - available);
        return true;
    };
    velk::image::importSessionTree(project, read, 0, blocks, project.root);
    // Sixteen descriptor blocks, then directory blocks within the disc.
    if (reads > 16 + blocks) std::abort();
    // What was imported must plan and give a header like any tree: a new
    // session after the imported one, with the UDF bridge.
    if (velk::image::PrepareImage(project) > 0) {
        (void)velk::image::GenerateHeader(project, blocks, blocks);
    }
    return 0;
}
