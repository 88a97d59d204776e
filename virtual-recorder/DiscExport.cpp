#include "virtual-recorder/DiscExport.h"

#include <algorithm>
#include <fstream>
#include <vector>

namespace velk::vrec {

std::uint32_t exportBlockCount(const DiscLayout& layout, std::uint32_t session) {
    if (layout.sequential() && session > layout.sessionCount()) return 0;
    return layout.sessionEnd(session);
}

bool exportImage(const DiscStore& disc, std::uint32_t session, const std::string& imagePath, std::string* error) {
    const DiscLayout& layout = disc.layout();
    const std::uint32_t blocks = exportBlockCount(layout, session);
    if (blocks == 0) {
        if (error != nullptr) *error = "the session holds no data";
        return false;
    }
    std::ofstream out(imagePath, std::ios::binary | std::ios::trunc);
    if (!out) {
        if (error != nullptr) *error = "cannot write " + imagePath;
        return false;
    }
    constexpr std::uint32_t kChunk = 256;
    std::vector<std::uint8_t> buffer(std::size_t{kChunk} * 2048);
    for (std::uint32_t lba = 0; lba < blocks; lba += kChunk) {
        const std::uint32_t count = std::min(kChunk, blocks - lba);
        if (!disc.readBlocks(lba, count, buffer.data())) {
            if (error != nullptr) *error = "cannot read the disc's data file";
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!layout.isReadable(lba + i)) std::fill_n(buffer.begin() + std::size_t{i} * 2048, 2048, 0);
        }
        out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(count) * 2048);
    }
    out.close();
    if (!out) {
        if (error != nullptr) *error = "cannot write " + imagePath;
        return false;
    }
    return true;
}

}  // namespace velk::vrec
