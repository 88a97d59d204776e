// Directory enumeration in the shape of the classic find-data record.
//
// Entries come sorted by name (byte order of the UTF-8 name) so images are
// reproducible. Masks use `*` and `?`, case-insensitively; "*.*" matches
// every name, also one without a dot. Symbolic links are followed (stat).
// Attributes: AttrDirectory for a folder, AttrHidden for a name that begins
// with "."; nothing else is synthesised. Linux stores no 8.3 names, so one is
// made for every entry whose long name is not a valid 8.3 name; it is unique
// among the entries of the same source folder (see makeAlternateNames).
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
// nullopt when it does not exist. The alternate name is ranked among the
// entries of the path's own folder, as the folder listing would give it.
std::optional<FindData> findPath(const std::string& path);

// Every entry of `folder` ("." and ".." left out) whose name matches `mask`,
// sorted by name. nullopt when the folder cannot be opened.
std::optional<std::vector<FindData>> listFolder(const std::string& folder,
                                                std::u16string_view mask);

// Mask matching: `*` any run, `?` one character, case-insensitive; "*.*"
// and "*" match every name.
bool matchesMask(std::u16string_view name, std::u16string_view mask);

// Alternate 8.3 names for the long names of one folder, in the order given
// (the input need not be sorted). A long name that already is a valid 8.3
// name gets an empty alternate name. Others: upper-case, drop spaces and
// characters outside the 8.3 set, keep the last extension; up to six base
// characters, then ~N, then up to three extension characters, N chosen so
// that the names are unique in the folder (ranked by long name in byte order).
// Example: "Annual Report 2008.doc" -> "ANNUAL~1.DOC".
std::vector<std::u16string> makeAlternateNames(const std::vector<std::u16string>& longNames);
bool isValid83Name(std::u16string_view name);

// (device, inode) of what the path names after following links; used to
// spot a folder that is already on the current walk path (a link cycle).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace velk::platform
