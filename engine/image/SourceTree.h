// The project's lifetime and its source tree: the item and folder tables,
// adding files, virtual files and folders, finding folders by tree path.
// What happens when a name is taken is RenamePolicy's; the walk of a source
// folder and the notices for the user are SourceWalk's and SourceNotices'.
//
// A tree path is a folder path inside the image: "\" (or "" or "/") is the
// root, "\A\B" a folder below it; "/" is accepted as a separator too, runs of
// separators count as one and a trailing one is ignored. Source paths are
// POSIX paths. The 8-bit forms take UTF-8 and do what the UTF-16 forms do.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/image/ImageProject.h"
#include "platform/FindData.h"

namespace velk {

std::unique_ptr<ImageProject> createProject();
// Empties the tree, frees the header, takes the time-zone offset; a
// longNames of 1 switches long-name mode on for good. Returns longNames.
int resetProject(ImageProject& project, int longNames, int reserved);

FolderNode* findFolder(ImageProject& project, std::u16string_view treePath);
// The child of `parent` with that Joliet name, letter case aside; null for none.
FileItem* findChild(FolderNode& parent, std::u16string_view jolietName);
// "\" for the root, else "\A\B\" (names from the root down, trailing "\").
std::u16string folderPath(const FolderNode* folder);

// The insertion common to every addition. Returns the new or existing item,
// or null (name too long: ErrInvalidName; tables full: ErrProjectFull).
FileItem* insertItem(ImageProject& project, FolderNode* parent, const platform::FindData& record,
                     std::u16string_view sourcePath, std::uint32_t fixedBlock, int wide);
// The same for a folder: its item and its node, standing for the source
// folder `origin` (empty for one made by name). Null when the tables are
// full, the name is too long, or an entry the duplicate rule keeps has it.
FolderNode* insertFolder(ImageProject& project, FolderNode* parent, const platform::FindData& record,
                         std::string_view origin);

// The find-data record of a folder made by name (now as its date), and the
// folder made from it below `parent` by the rename policy's rules.
platform::FindData folderRecord(std::u16string_view name);
FolderNode* createFolderIn(ImageProject& project, FolderNode* parent, std::u16string_view name,
                           std::string_view origin = {});

FileItem* addFile(ImageProject& project, std::u16string_view treePath,
                  std::u16string_view sourcePath, int wide);
FileItem* addFileAs(ImageProject& project, std::u16string_view treePath,
                    std::u16string_view sourcePath, std::u16string_view longName,
                    std::u16string_view shortName, int wide);
FileItem* addVirtualFile(ImageProject& project, std::u16string_view treePath,
                         const platform::FindData& record, ChunkDataCallback callback,
                         void* context);
FolderNode* createFolder(ImageProject& project, std::u16string_view parentTreePath,
                         std::u16string_view name);
FolderNode* addDirectory(ImageProject& project, std::u16string_view treePath,
                         std::u16string_view sourceFolder, std::u16string_view mask,
                         int recursive, int keepPath, int wide);

// The same with the source path as its own bytes, which need not be valid
// UTF-8 (a UTF-16 path cannot carry such bytes). The 8-bit operations of the
// engine should use these.
FileItem* addFileBytes(ImageProject& project, std::u16string_view treePath,
                       std::string_view sourcePath, int wide);
FolderNode* addDirectoryBytes(ImageProject& project, std::u16string_view treePath,
                              std::string_view sourceFolder, std::u16string_view mask,
                              int recursive, int keepPath, int wide);

// The path to open an item's source file with: its own bytes when they are
// not UTF-8, else sourcePath in UTF-8.
std::string sourceOpenPath(const FileItem& item);

}  // namespace velk
