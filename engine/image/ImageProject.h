// The image project: the source tree the user assembled (FileItem and
// FolderNode), the options that decide which file systems are written, the
// planned layout, the generated header and the fields the jobs share.
//
// Items are owned by the project's tables; a FileItem* or FolderNode* handed
// out by an add operation stays valid until the next reset. Each folder keeps
// an index of its children's folded Joliet names beside the child list, so the
// duplicate test and tree-path lookups do not scan long child lists.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/core/EngineTypes.h"
#include "engine/core/JobFields.h"
#include "engine/image/LayoutPlan.h"
#include "engine/image/SourceWalk.h"
#include "engine/image/UdfPlan.h"
#include "platform/FindData.h"
#include "platform/Time.h"

namespace velk {

struct RecorderDevice;
struct FolderNode;

struct FileItem {
    std::string isoName;        // 8-bit (UTF-8) ISO 9660 name, not upper-cased yet
    std::u16string jolietName;  // Joliet name; also the UDF name
    std::u16string sourcePath;  // empty for folders and virtual files
    // The source path's own bytes when they are not valid UTF-8 (sourcePath
    // then shows U+FFFD for the invalid bytes and cannot open the file);
    // empty otherwise. See sourceOpenPath.
    std::string sourceBytes;
    platform::SystemTime date;  // last-write time in local time
    // Offset from UTC in force at `date` (daylight saving included), in
    // minutes east.
    std::int16_t utcOffsetMinutes = 0;
    std::uint64_t size = 0;
    std::uint32_t dataBlock = 0;   // relative to dataStart unless fixedBlock
    std::uint8_t fixedBlock = 0;   // 1: dataBlock is an absolute disc address
    std::uint32_t attributes = 0;
    std::uint8_t isoNameLength = 0;     // bytes of isoName written to ISO records
    std::uint8_t jolietNameLength = 0;  // UTF-16 units of jolietName
    // 1: jolietName ends in a "." that the source name lacks (a file without
    // an extension); the UDF name leaves it out.
    std::uint8_t jolietDotAdded = 0;
    std::int32_t wideSource = 0;
    ChunkDataCallback dataCallback = nullptr;
    void* callbackContext = nullptr;
    FileItem* next = nullptr;      // next sibling
    FolderNode* folder = nullptr;  // the folder this item stands for; null for files
    std::uint32_t udfEntryBlock = 0;

    bool isFolder() const { return folder != nullptr; }
};

struct FolderNode {
    FolderNode* parent = nullptr;  // the root is its own parent
    FileItem* item = nullptr;      // the folder's entry in its parent; null for the root
    // The source folder (its path's bytes) that this folder stands for;
    // empty for a folder made by name (CreateFolder, an imported folder).
    std::string origin;
    std::u16string longName;       // empty for the root
    std::string isoName;           // at most 15 bytes; "ROOT_DIR" for the root
    std::uint32_t isoBytes = 0;
    std::uint32_t jolietBytes = 0;
    std::uint32_t isoBlock = 0;
    std::uint32_t jolietBlock = 0;
    std::uint16_t number = 0;  // path-table record number, 1 for the root
    std::uint8_t isoNameLength = 0;
    std::uint8_t longNameLength = 0;
    FileItem* firstChild = nullptr;
    FileItem* lastChild = nullptr;
    std::uint32_t childCount = 0;
    UdfFolderFields udf;
    // Hash of the folded Joliet name -> the child with that name. Only the
    // hash is kept (a 200,000-file folder would otherwise hold every name
    // twice); a hit is confirmed against the child's own name.
    std::unordered_multimap<std::size_t, FileItem*> childIndex;
};

struct ImageProject {
    std::vector<std::unique_ptr<FileItem>> itemTable;     // creation order = data order
    std::vector<std::unique_ptr<FolderNode>> folderTable;  // creation order; [0] is the root
    std::vector<FolderNode*> pathTableOrder;
    std::int32_t padBlocks = 0;
    FolderNode* root = nullptr;
    char16_t volumeLabelW[33] = {};  // at most 32 units, zero-terminated
    char volumeLabel[33] = {};       // at most 32 bytes, zero-terminated
    char systemIdSource[32] = {};
    std::int32_t replaceExisting = 0;
    std::int32_t prepared = 0;
    std::int32_t jolietOn = 1;
    std::int32_t udfOn = 1;
    std::int32_t isoOn = 0;
    std::uint8_t longNameMode = 0;
    std::int8_t gmtOffset = 0;
    // Date of the root folder (its "." records and UDF file entry): the
    // moment of the last reset, local time.
    platform::SystemTime rootDate;
    std::int16_t rootUtcOffsetMinutes = 0;
    // What the add operations since the last reset have to tell the user.
    std::vector<SourceNotice> notices;
    // Left out of every add with an Excluded notice. Kept across resets,
    // like the file-system switches.
    std::vector<ExcludedFile> excludedFiles;
    // 1 (the default): symbolic links are followed. 0: every link met by an
    // add is left out with a LinkSkipped notice. Kept across resets.
    std::int32_t followLinks = 1;
    std::unique_ptr<std::uint8_t[]> headerBuffer;
    std::uint32_t headerBytes = 0;
    std::u16string errorFileName;
    std::string bootImagePath;
    std::uint32_t bootImageSize = 0;
    std::atomic<std::int32_t> pendingError{0};
    std::int32_t roundTo32 = 1;
    RecorderDevice* device = nullptr;
    std::mutex lock;  // the project lock: guards the chunk queue

    // Escape sequences of the Joliet descriptor and of the second field.
    std::uint8_t jolietEscape[3] = {};
    std::uint8_t secondEscape[3] = {};

    LayoutPlan plan;
    UdfPlan udf;
    JobFields jobs;

    std::int32_t itemCount() const { return static_cast<std::int32_t>(itemTable.size()); }
    std::int32_t folderCount() const { return static_cast<std::int32_t>(folderTable.size()); }
};

}  // namespace velk
