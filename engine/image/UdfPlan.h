// UDF bridge planning fields and the file-structure generator's state.
#pragma once

#include <cstdint>

namespace velk {

struct FileItem;
struct FolderNode;

// Per folder.
struct UdfFolderFields {
    std::uint16_t linkCount = 0;
    std::uint64_t idBytes = 0;
    FileItem* cursor = nullptr;
    std::uint32_t entryBlock = 0;
    std::uint32_t idBlock = 0;
};

// Per project.
struct UdfPlan {
    std::uint32_t vrsStart = 0;
    std::uint32_t mainVds = 0;
    std::uint32_t reserveVds = 0;
    std::uint32_t integrity = 0;
    std::uint32_t anchor = 0;
    std::uint32_t partitionStart = 0;
    std::uint32_t fileSet = 0;
    std::uint32_t partitionLength = 0;
    std::uint32_t closingAnchor = 0;
    std::uint32_t dataStart = 0;
    std::uint32_t dirCount = 1;
    std::uint32_t fileCount = 0;
    std::uint64_t nextUniqueId = 16;
    std::uint8_t timestamp[12] = {};
    std::uint8_t label[31] = {};
    std::uint8_t labelBytes = 0;
    std::uint32_t sessionStart = 0;
    std::uint32_t areaStart = 0;
    std::uint32_t areaBlocks = 0;
};

}  // namespace velk
