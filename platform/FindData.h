// Directory enumeration in the shape of the classic find-data record.
//
// Entries come sorted by name (byte order of the UTF-8 name) so images are
// reproducible. Masks use `*` and `?`, case-insensitively; "*.*" matches
// every name, also one without a dot. Symbolic links are followed (stat).
// Attributes: AttrDirectory for a folder, AttrHidden for a name that begins
// with "."; nothing else is synthesised. A folder's size is 0. Linux keeps no
// birth time in stat, so creationTime is the status-change time (st_ctim).
// Linux stores no 8.3 names, so one is made for every entry whose long name
// is not a valid 8.3 name; it is unique among the entries of the same source
// folder (see makeAlternateNames).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::platform {

inline constexpr std::uint32_t AttrHidden = 0x02;
inline constexpr std::uint32_t AttrDirectory = 0x10;

// Field for field the wide find-data record. Times are 100-ns counts since
// 1601-01-01 UTC.
struct FindData {
    std::uint32_t attributes = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t lastAccessTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    std::uint32_t reserved0 = 0;
    std::uint32_t reserved1 = 0;
    char16_t fileName[260] = {};
    char16_t alternateName[14] = {};
};

// The 8-bit record: same fields, names in UTF-8.
struct FindDataA {
    std::uint32_t attributes = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t lastAccessTime = 0;
    std::uint64_t lastWriteTime = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    std::uint32_t reserved0 = 0;
    std::uint32_t reserved1 = 0;
    char fileName[260] = {};
    char alternateName[14] = {};
};

// Widens an 8-bit record field by field; names are converted from UTF-8
// (cut at a character boundary to fit).
FindData widen(const FindDataA& record);

// Sets fileName (cut to 259 units at a character boundary).
void setFileName(FindData& record, std::u16string_view name);
void setAlternateName(FindData& record, std::u16string_view name);

// The find-data record of one path (file or folder), following links;
// nullopt when it does not exist. fileName is the last component of the path
// as written (a link keeps its own name; trailing slashes are ignored; a
// path ending in "." or ".." takes the real name of the folder it names).
// The root folder has no name of its own: its fileName is "/" and its
// alternate name is empty. Otherwise the alternate name is ranked among the
// entries of the path's own folder, so it equals what listFolder gives.
std::optional<FindData> findPath(const std::string& path);

// Every file and folder of `folder` ("." and ".." left out) whose name
// matches `mask`, sorted by name; special files (FIFOs, sockets, device
// nodes) are left out. nullopt when the folder cannot be opened. A name that is
// not valid UTF-8 is reported with U+FFFD in place of the invalid bytes. An
// entry that stat cannot follow (a dangling link, a link loop, an entry
// removed while listing) is left out. Alternate names are made over every
// entry of the folder, listed or not, before the mask is applied, so an
// entry keeps its alternate name whatever mask lists it.
std::optional<std::vector<FindData>> listFolder(const std::string& folder,
                                                std::u16string_view mask);

// One entry of a folder listing as listFolderEntries gives it: the record,
// the name's own bytes (which need not be valid UTF-8, while the record's
// name is its UTF-16 reading with U+FFFD for invalid bytes) and, for an
// entry that is neither a regular file nor a folder, what it is.
struct FolderEntry {
    FindData record;
    std::string name;
    // "FIFO", "socket", "character device", "block device" or "special
    // file"; null for a regular file or a folder.
    const char* special = nullptr;
};

// Every entry of `folder` whose name matches `mask`, sorted by name, with
// the same rules as listFolder, special files included (flagged).
std::optional<std::vector<FolderEntry>> listFolderEntries(const std::string& folder,
                                                         std::u16string_view mask);

// True when `path` itself is a symbolic link (a trailing slash follows it).
bool isSymbolicLink(const std::string& path);
// What a symbolic link holds; empty when `path` is none or cannot be read.
std::string linkTarget(const std::string& path);

// What a path names when it is neither a regular file nor a folder (after
// following links): "FIFO", "socket", ... as in FolderEntry; null for a
// regular file, a folder or a path that does not exist.
const char* specialFileKind(const std::string& path);

// Mask matching: `*` any run, `?` one character (a surrogate pair counts as
// one), case-insensitive with foldCase; "*.*", "*" and the empty mask match
// every name. No other dot rule applies: "*." matches only names ending in
// a dot, and "a.*" does not match "a".
bool matchesMask(std::u16string_view name, std::u16string_view mask);

// Alternate 8.3 names for the long names of one folder, in the order given
// (the input need not be sorted). A long name that already is a valid 8.3
// name gets an empty alternate name. Others: upper-case, drop spaces and
// characters outside the 8.3 set, keep the last extension; up to six base
// characters, then ~N, then up to three extension characters, N chosen so
// that the names are unique in the folder (ranked by long name in byte order).
// Example: "Annual Report 2008.doc" -> "ANNUAL~1.DOC".
//
// The details:
// - Names are ranked by their UTF-8 bytes; each takes the smallest N whose
//   name is not taken by a higher-ranked alternate name or by any valid 8.3
//   long name of the folder (compared upper-cased).
// - Leading dots are not an extension separator: ".profile" -> "PROFIL~1".
// - The base is cut so that base, "~" and N fit in eight characters:
//   "ANNUAL~9", "ANNUA~10", "ANNU~100".
// - When no base character survives (a name in Chinese, say), the base is
//   four upper-case hex digits of a hash of the long name ("HHHH~1.TXT").
// - Valid 8.3 long names that differ only in case ("readme.txt" and
//   "README.TXT") would clash once upper-cased on the disc: the first in
//   rank keeps an empty alternate name, the later ones get a numbered one.
std::vector<std::u16string> makeAlternateNames(const std::vector<std::u16string>& longNames);

// A valid 8.3 name: 1-8 base characters, optionally a dot and 1-3 extension
// characters, every character (after ASCII upper-casing) one of A-Z, 0-9
// and ! # $ % & ' ( ) - @ ^ _ ` { } ~. Lower-case ASCII letters count as
// valid, because the names are upper-cased when they are written anyway:
// "readme.txt" needs no alternate name. A space or any non-ASCII character
// makes a name invalid.
bool isValid83Name(std::u16string_view name);

// (device, inode) of what the path names after following links; used to
// spot a folder that is already on the current walk path (a link cycle).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::string& path);

// An entry as readFolderEntries gives it: a FolderEntry that also says
// whether the entry is a symbolic link and, when stat cannot follow it, why.
struct FolderEntryStatus {
    FolderEntry entry;
    bool link = false;  // the entry itself is a symbolic link
    // The error number of stat for an entry it cannot follow (ENOENT: the
    // link points at nothing or the entry was removed while listing; ELOOP:
    // the link loops; ENAMETOOLONG: the path is too long for the system;
    // EACCES: the folder cannot be searched). The record then describes the
    // entry itself (lstat), or holds only its name when even that fails.
    int error = 0;
    // What the entry names after following links (0, 0 with an error).
    FileIdentity identity;
};

// Every entry of `folder` whose name matches `mask`, sorted by name, none
// left out: special files flagged, entries that cannot be followed with
// their reason. nullopt with the system's error number in `error` when the
// folder cannot be opened or read.
std::optional<std::vector<FolderEntryStatus>> readFolderEntries(const std::string& folder,
                                                                std::u16string_view mask,
                                                                int& error);

}  // namespace velk::platform
