// What happens when an added entry's disc name is taken. A file or folder
// from another source, or an entry of the other kind (a file where a folder
// is, a folder where a file is), gets the first free name "stem (N).ext"
// and a Renamed notice naming the source that holds the name; the same
// source again, and entries from no source (virtual files, imported items,
// folders made by name), keep the plain duplicate rule of insertItem.
#pragma once

#include <string>
#include <string_view>

#include "engine/image/ImageProject.h"
#include "platform/FindData.h"

namespace velk {

// The child that an entry named `name` would clash with: one of the same
// Joliet name (letter case aside), or one of the same UDF name. A file
// without a dot ("x") is "x." in Joliet but "x" in UDF, so it clashes with
// a folder "x" there, though their Joliet names differ.
FileItem* findClash(FolderNode& parent, std::u16string_view name, bool folder);
FileItem* findClash(FolderNode& parent, const platform::FindData& record);

// Gives `record` a unique name in `parent` and notes the rename, with the
// source of the entry that has the name.
void renameEntry(ImageProject& project, FolderNode& parent, platform::FindData& record, bool folder,
                 std::string_view source, const FileItem* holder);

// Adds the item of a folder and its node, or returns the folder that already
// has that name. `origin` is the source folder the new one stands for (empty
// for a folder made by name): a taken name whose folder comes from another
// source, or a file of that name, makes the new folder "name (2)".
FolderNode* addFolderItem(ImageProject& project, FolderNode* parent, platform::FindData record,
                          std::string_view origin = {});

// Inserts a file from a source path (its own bytes): a taken name whose
// entry comes from another source, or is a folder, gives the new file a
// unique name instead of dropping it; the same source again keeps the plain
// duplicate rule. A name that is not valid UTF-8 is noted.
FileItem* insertSourceFile(ImageProject& project, FolderNode* parent, platform::FindData record,
                           const std::string& source, bool nameInvalid, int wide);

}  // namespace velk
