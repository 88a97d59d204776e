// ISO 9660 and Joliet names of tree entries, and the path-table order.
//
// Every entry carries an 8-bit ISO name for the primary tree and a UTF-16
// Joliet name (also the UDF name). ISO names keep every character they are
// given (no d-character mapping, no ";1" version); the directory-record
// writer upper-cases them. Short mode gives 8.3-length ISO names, long mode
// the long names themselves (up to 206 bytes of UTF-8).
#pragma once

#include <string>
#include <string_view>

#include "platform/FindData.h"

namespace velk {

struct FileItem;
struct FolderNode;
struct ImageProject;

// The added dot: a file whose name has no dot carries one at the end of its
// Joliet and ISO names ("x" is "x."); a folder never does. UDF, and an 8.3
// name made afresh, keep the name as the source has it: ownNameOf.
bool takesAddedDot(std::u16string_view name, bool folder);

// The Joliet name a record would get: its file name, with the added dot.
// Also the key of the duplicate test.
std::u16string jolietFormOf(const platform::FindData& record);
std::u16string jolietFormOf(std::u16string_view name, bool folder);

// An entry's name without the added dot: a folder's long name, a file's
// Joliet name less the dot the rule gave it (jolietDotAdded).
std::u16string_view ownNameOf(const FileItem& item);

// Fills the names and their lengths of an item from its find-data record.
void assignItemNames(FileItem& item, const platform::FindData& record, bool longNameMode);

// Fills longName, isoName and their lengths of a folder node. In long mode
// the ISO name is the long name (as the folder's directory record has it),
// else the 8.3 form.
void assignFolderNames(FolderNode& folder, const platform::FindData& record, bool longNameMode);

// Makes the 8.3 ISO names of every folder's children unique. The 8.3 names
// come from each source folder's own listing, so two sources merged into
// one disc folder can bring the same name ("INDEX~1.HTM" from both, one of
// them renamed "index (2).html" in the other trees). Names already unique
// stay; imported entries keep theirs and a later new one gives way, taking
// "BASE~N.EXT" from its long name ("INDEX2~1.HTM"). Nothing changes in
// long-name mode, whose names are the long names, unique already.
void makeIsoNamesUnique(ImageProject& project);

// Puts pathTableOrder into path-table order (parents' numbers ascending, then
// siblings by long name in UTF-16 code-unit order) and numbers the folders
// from 1. Gives up after 1000 rounds with the numbering of the last round
// and returns false.
bool orderPathTable(ImageProject& project);

}  // namespace velk
