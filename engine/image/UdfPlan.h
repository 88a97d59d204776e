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

// Where the file-structure generator stands between two calls.
enum class UdfStep : std::uint8_t {
    Entry,        // the current folder's file entry is next
    Identifiers,  // blocks of the current folder's identifier stream
    Children,     // file entries of the current folder's children
};

struct UdfGeneratorState {
    bool areaDone = false;
    FolderNode* folder = nullptr;  // the folder being produced
    UdfStep step = UdfStep::Entry;
    // Identifier step: the next child to describe; null once every child is
    // in the stream. parentWritten tells whether the parent entry is.
    FileItem* walk = nullptr;
    bool parentWritten = false;
    std::uint32_t idBlockIndex = 0;  // block of the stream being filled
    // One identifier descriptor, rendered whole; pendingOffset bytes of it
    // are already in earlier blocks (a descriptor split across blocks or
    // across two calls).
    std::uint8_t pending[2048] = {};
    std::uint32_t pendingLength = 0;
    std::uint32_t pendingOffset = 0;
    std::uint64_t blocksProduced = 0;
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
    // Volume set identifier: sixteen hex digits, the planning time (UTC
    // seconds) and a random value, so that every volume gets its own.
    char volumeSetId[17] = {};
    std::uint8_t label[31] = {};
    std::uint8_t labelBytes = 0;
    std::uint32_t sessionStart = 0;
    std::uint32_t areaStart = 0;
    std::uint32_t areaBlocks = 0;
    UdfGeneratorState generator;
};

}  // namespace velk
