// The import of a session already on the disc: its ISO 9660 directory tree
// (ECMA-119 volume descriptors 8.4/8.5, directory records 9.1) read block by
// block and added to the project, so that a new session repeats the old
// files. Imported files get no source and keep their old extents
// (fixedBlock): the new session's directories point at the old data and
// nothing of it is streamed again.
//
// The tree comes from the session's first supplementary descriptor (type 2):
// UCS-2 names when its file structure version is 1 (Joliet), 8-bit names
// (UTF-8) otherwise. A session without one gives its primary tree. Version
// suffixes (";1") and the dot that marks a file without an extension are
// left out of every name, as readers show them.
//
// The disc is not trusted. Every record is bounded by its block (lengths of
// 0 or below 34, identifiers past the record), every extent by the volume's
// end, directory reads by one budget for the whole import; a directory is
// entered once (extents already visited are skipped) and no deeper than
// MaxImportDepth. A block that cannot be read is skipped, never parsed. The
// import stops at the project's item limits (pendingError ErrProjectFull);
// a name over 98 characters skips its entry (pendingError ErrInvalidName).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/image/ImageProject.h"

namespace velk::image {

// Folder levels below the import's target folder that are read.
inline constexpr std::uint32_t MaxImportDepth = 64;
// Directory blocks one import reads at most (besides the volume's size):
// far more than the item limits let a sound tree have.
inline constexpr std::uint32_t MaxImportDirectoryBlocks = 300000;

// Reads the 2048-byte block at absolute disc address `lba` into `block`;
// false when it cannot be read (the block's bytes are then not looked at).
using BlockReader = std::function<bool(std::uint32_t lba, std::uint8_t* block)>;

// What one import found and did.
struct ImportReport {
    bool descriptorFound = false;  // a descriptor with a tree was found
    bool primaryTree = false;      // it was the primary descriptor (no type 2)
    bool jolietNames = false;      // the tree's names were UCS-2
    std::uint32_t volumeEnd = 0;   // first block past the volume
    std::uint32_t files = 0;       // files added (or found already there)
    std::uint32_t folders = 0;
    std::uint32_t skippedRecords = 0;  // records or entries left out as unsound
    std::uint32_t unreadBlocks = 0;    // blocks that could not be read
    bool stoppedAtLimit = false;       // the project's tables filled up
};

// Imports the tree of the session that starts at `sessionStart` into
// `target`. `discBlocks`, when not 0, bounds every address besides the
// volume's own size.
ImportReport importSessionTree(ImageProject& project, const BlockReader& read, std::uint32_t sessionStart,
                               std::uint32_t discBlocks, FolderNode* target);

// Where a session of the disc in the project's recorder begins: the start
// of the first track of session `session` (1-based); nullopt when the
// recorder does not tell.
std::optional<std::uint32_t> sessionStartAddress(RecorderDevice& device, int session);

// One session of the disc: its number, first block and the blocks its ISO
// 9660 volume takes from there (0 when it holds none that can be read).
struct SessionExtent {
    int number = 0;
    std::uint32_t start = 0;
    std::uint32_t blocks = 0;
};
std::vector<SessionExtent> listSessions(RecorderDevice& device);

// ImportSession / ImportSessionW: imports session `session` (0: the last)
// below the folder at `treePath` (the root when there is none). Returns the
// session number used; nothing is imported when no recorder is selected,
// another job holds it, or the session cannot be found.
int ImportSession(ImageProject& project, int session, std::u16string_view treePath);

}  // namespace velk::image
