// The folder walk of AddDirectory and what it, and every other add, has to
// tell the user: entries renamed because their name was taken, names that
// are not valid UTF-8, special files, links skipped, looping or dangling,
// excluded files, and the failures that fail the add once the walk has found
// them all. ImageProject keeps the notices and the excluded files; the
// front ends show them.
#pragma once

#include <string>
#include <string_view>

#include "platform/FindData.h"

namespace velk {

struct FolderNode;
struct ImageProject;

// Something the add operations did that the user did not ask for in so many
// words: an entry renamed because its disc name was taken, a name that is
// not valid UTF-8, a special file left out. The caller shows them.
//
// The kinds from UnreadableFolder on are failures: the add goes on to find
// every such problem of the tree, then fails (see SourceNotice::isFailure).
enum class SourceNoticeKind {
    Renamed,      // discPath is the name the entry got instead of its own
    InvalidName,  // the name is not UTF-8; discPath shows U+FFFD for its bad bytes
    SpecialFile,  // not put on the disc; reason says what it is
    // Left out, and the user is told:
    Excluded,       // one of ImageProject::excludedFiles; reason is its why
    LinkSkipped,    // a symbolic link, and followLinks is 0
    LinkLoop,       // a link that loops, or leads back to a folder it is in (reason: that folder)
    LinkDangling,   // a link to nothing; reason is what the link holds
    LinkToSpecial,  // a link to a FIFO, device, ...; reason says what it is
    Vanished,       // removed while its folder was read
    // Failures:
    UnreadableFolder,  // the folder cannot be listed; systemError says why
    Unreadable,        // an entry that cannot be looked at (path too long, ...); systemError
    NameTooLong,       // the name is over MaxNameLength; discPath is where it would go
};

struct SourceNotice {
    SourceNoticeKind kind = SourceNoticeKind::Renamed;
    std::string sourcePath;    // the source path's own bytes
    std::u16string discPath;   // "\A\name" in the image; empty for a skipped entry
    std::string reason;        // for SpecialFile: "FIFO", "socket", ...
    // Renamed: the source of the entry that has the name (empty when it has
    // none, such as a folder made by name).
    std::string takenBy = {};
    int systemError = 0;       // the error number of a failure, 0 when none

    bool isFailure() const { return kind >= SourceNoticeKind::UnreadableFolder; }
};

// A file that must not go on the disc however it is reached (through a link,
// a hard link or a folder walked): the image being written, say.
struct ExcludedFile {
    platform::FileIdentity identity;
    std::string why;  // "it is the image being written"
};

// Walks the source folder `source` into `target`: its files that match
// `mask` and, when `recursive`, its subfolders with all they hold. Problems
// are noted and the walk goes on; false only when it had to stop at once
// (the project is full, a name could not be inserted).
bool walkSourceFolder(ImageProject& project, FolderNode* target, const std::string& source,
                      std::u16string_view mask, int recursive, int wide);

// The folder that keep-path puts the walk of `source` into, made below
// `target`: one folder for every component of the path after its leading
// "/", or of a relative path as given; "." and ".." carry no name and are
// left out. Each stands for the source path up to its component, so two
// source folders whose names differ only in case stay apart. Null after a
// noted failure (a component name too long) or when the project is full.
FolderNode* keepPathTarget(ImageProject& project, FolderNode* target, const std::string& source);

}  // namespace velk
