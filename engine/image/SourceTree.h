// The project's lifetime and its source tree: adding files, virtual files
// and folders, finding folders by tree path.
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
// "\" for the root, else "\A\B\" (names from the root down, trailing "\").
std::u16string folderPath(const FolderNode* folder);

// The insertion common to every addition. Returns the new or existing item,
// or null (name too long: ErrInvalidName; tables full: ErrProjectFull).
FileItem* insertItem(ImageProject& project, FolderNode* parent, const platform::FindData& record,
                     std::u16string_view sourcePath, std::uint32_t fixedBlock, int wide);

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

// Labels: both forms are stored, each cut to 32 units (bytes) at a character
// boundary. The result is the length of the converted label.
int setVolumeLabelW(ImageProject& project, const char16_t* label);
int setVolumeLabel(ImageProject& project, const char* label);

}  // namespace velk
