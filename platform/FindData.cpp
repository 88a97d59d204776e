// Directory enumeration with opendir/readdir and stat.
#include "platform/FindData.h"

#include <dirent.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <set>

#include "platform/Text.h"
#include "platform/Time.h"

namespace velk::platform {

namespace {

constexpr std::size_t FileNameUnits = std::size(FindData{}.fileName) - 1;
constexpr std::size_t AlternateNameUnits = std::size(FindData{}.alternateName) - 1;

// Copies `name` into a zero-terminated field of N units, cut so that no
// surrogate pair is split.
template <std::size_t N>
void setField(char16_t (&field)[N], std::u16string_view name) {
    std::size_t length = std::min(name.size(), N - 1);
    if (length < name.size() && length > 0 && name[length - 1] >= 0xD800 &&
        name[length - 1] <= 0xDBFF && name[length] >= 0xDC00 && name[length] <= 0xDFFF) {
        --length;
    }
    std::copy_n(name.begin(), length, field);
    std::fill(field + length, field + N, u'\0');
}

// The names of a folder's entries ("." and ".." left out) in byte order;
// nullopt with the error number in `error` when the folder cannot be opened
// or a read of it fails part way (a partial listing would lose entries).
std::optional<std::vector<std::string>> readFolderNames(const std::string& folder, int& error) {
    error = 0;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) {
        error = errno;
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                error = errno;
                return std::nullopt;
            }
            break;
        }
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::vector<std::string>> readFolderNames(const std::string& folder) {
    int error = 0;
    return readFolderNames(folder, error);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::uint64_t toFileTime(const timespec& ts) {
    return unixToFileTime(ts.tv_sec, static_cast<std::uint32_t>(ts.tv_nsec));
}

FindData makeRecord(const struct stat& st, std::u16string_view name,
                    std::u16string_view alternate) {
    FindData record;
    if (S_ISDIR(st.st_mode)) {
        record.attributes |= AttrDirectory;
    }
    if (!name.empty() && name.front() == u'.') {
        record.attributes |= AttrHidden;
    }
    // Linux has no birth time in stat; the status-change time stands in.
    record.creationTime = toFileTime(st.st_ctim);
    record.lastAccessTime = toFileTime(st.st_atim);
    record.lastWriteTime = toFileTime(st.st_mtim);
    const auto size = S_ISDIR(st.st_mode) ? std::uint64_t{0} : static_cast<std::uint64_t>(st.st_size);
    record.sizeHigh = static_cast<std::uint32_t>(size >> 32);
    record.sizeLow = static_cast<std::uint32_t>(size);
    setFileName(record, name);
    setAlternateName(record, alternate);
    return record;
}

const char* specialKindOf(mode_t mode) {
    if (S_ISREG(mode) || S_ISDIR(mode)) {
        return nullptr;
    }
    if (S_ISFIFO(mode)) {
        return "FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "socket";
    }
    if (S_ISCHR(mode)) {
        return "character device";
    }
    if (S_ISBLK(mode)) {
        return "block device";
    }
    return "special file";
}

// The characters a short name may hold besides A-Z and 0-9.
bool isShortNameCharacter(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
        return true;
    }
    return std::u16string_view(u"!#$%&'()-@^_`{}~").find(c) != std::u16string_view::npos;
}

char16_t upperAscii16(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

std::u16string upperAscii16(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        c = upperAscii16(c);
    }
    return out;
}

// Upper-cased, with everything outside the short-name set (spaces, dots,
// non-ASCII) dropped.
std::u16string shortNameCharacters(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        c = upperAscii16(c);
        if (isShortNameCharacter(c)) {
            out.push_back(c);
        }
    }
    return out;
}

// Four hex digits that stand for a name with no usable base characters.
std::u16string hashBase(std::u16string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char16_t unit : name) {
        hash = (hash ^ unit) * 16777619u;
    }
    const std::uint32_t folded = (hash ^ (hash >> 16)) & 0xFFFF;
    std::u16string out;
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(u"0123456789ABCDEF"[(folded >> shift) & 0xF]);
    }
    return out;
}

struct ShortNameParts {
    std::u16string base;
    std::u16string extension;
};

ShortNameParts splitForShortName(std::u16string_view longName) {
    std::u16string_view rest = longName;
    while (!rest.empty() && rest.front() == u'.') {
        rest.remove_prefix(1);
    }
    ShortNameParts parts;
    const std::size_t dot = rest.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        parts.base = shortNameCharacters(rest);
    } else {
        parts.base = shortNameCharacters(rest.substr(0, dot));
        parts.extension = shortNameCharacters(rest.substr(dot + 1)).substr(0, 3);
    }
    if (parts.base.empty()) {
        parts.base = hashBase(longName);
    }
    return parts;
}

std::u16string numberedShortName(const ShortNameParts& parts, unsigned n) {
    const std::string digits = std::to_string(n);
    const std::size_t baseLength = 8 - 1 - std::min<std::size_t>(digits.size(), 7);
    std::u16string name = parts.base.substr(0, std::min<std::size_t>(baseLength, 6));
    name.push_back(u'~');
    name.append(digits.begin(), digits.end());
    if (!parts.extension.empty()) {
        name.push_back(u'.');
        name += parts.extension;
    }
    return name;
}

std::vector<std::u16string> wideNames(const std::vector<std::string>& names) {
    std::vector<std::u16string> wide;
    wide.reserve(names.size());
    for (const std::string& name : names) {
        wide.push_back(toUtf16(name));
    }
    return wide;
}

// A code point per character, surrogate pairs joined, so that `?` in a mask
// stands for one character.
std::u32string codePoints(std::u16string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

}  // namespace

FindData widen(const FindDataA& record) {
    FindData wide;
    wide.attributes = record.attributes;
    wide.creationTime = record.creationTime;
    wide.lastAccessTime = record.lastAccessTime;
    wide.lastWriteTime = record.lastWriteTime;
    wide.sizeHigh = record.sizeHigh;
    wide.sizeLow = record.sizeLow;
    wide.reserved0 = record.reserved0;
    wide.reserved1 = record.reserved1;
    const std::string_view name(record.fileName, strnlen(record.fileName, std::size(record.fileName)));
    const std::string_view alternate(record.alternateName,
                                     strnlen(record.alternateName, std::size(record.alternateName)));
    setFileName(wide, toUtf16(name, FileNameUnits));
    setAlternateName(wide, toUtf16(alternate, AlternateNameUnits));
    return wide;
}

void setFileName(FindData& record, std::u16string_view name) { setField(record.fileName, name); }

void setAlternateName(FindData& record, std::u16string_view name) {
    setField(record.alternateName, name);
}

bool isValid83Name(std::u16string_view name) {
    const std::size_t dot = name.find(u'.');
    const std::u16string_view base = name.substr(0, dot);
    const std::u16string_view extension =
        dot == std::u16string_view::npos ? std::u16string_view{} : name.substr(dot + 1);
    if (base.empty() || base.size() > 8) {
        return false;
    }
    if (dot != std::u16string_view::npos && (extension.empty() || extension.size() > 3)) {
        return false;
    }
    auto allValid = [](std::u16string_view part) {
        return std::all_of(part.begin(), part.end(),
                           [](char16_t c) { return isShortNameCharacter(upperAscii16(c)); });
    };
    return allValid(base) && allValid(extension);
}

std::vector<std::u16string> makeAlternateNames(const std::vector<std::u16string>& longNames) {
    // Rank by the UTF-8 bytes of the names, the order a folder listing has.
    std::vector<std::string> utf8;
    utf8.reserve(longNames.size());
    for (const auto& name : longNames) {
        utf8.push_back(toUtf8(name));
    }
    std::vector<std::size_t> rank(longNames.size());
    std::iota(rank.begin(), rank.end(), std::size_t{0});
    std::stable_sort(rank.begin(), rank.end(), [&](std::size_t a, std::size_t b) {
        return utf8[a] != utf8[b] ? utf8[a] < utf8[b] : longNames[a] < longNames[b];
    });

    std::vector<std::u16string> result(longNames.size());
    std::set<std::u16string> taken;
    std::vector<bool> needsAlternate(longNames.size(), false);
    for (std::size_t i : rank) {
        if (!isValid83Name(longNames[i]) || !taken.insert(upperAscii16(longNames[i])).second) {
            needsAlternate[i] = true;
        }
    }
    // Per base and extension the next number worth trying: every lower one
    // is taken already, which keeps a folder of many similar names linear.
    std::map<std::u16string, unsigned> nextNumber;
    for (std::size_t i : rank) {
        if (!needsAlternate[i]) {
            continue;
        }
        const ShortNameParts parts = splitForShortName(longNames[i]);
        unsigned& n = nextNumber.try_emplace(parts.base.substr(0, 6) + u'.' + parts.extension, 1u)
                          .first->second;
        std::u16string candidate = numberedShortName(parts, n);
        while (!taken.insert(candidate).second) {
            candidate = numberedShortName(parts, ++n);
        }
        ++n;
        result[i] = std::move(candidate);
    }
    return result;
}

bool matchesMask(std::u16string_view name, std::u16string_view mask) {
    if (mask.empty() || mask == u"*" || mask == u"*.*") {
        return true;
    }
    const std::u32string n = codePoints(foldCase(name));
    const std::u32string m = codePoints(foldCase(mask));
    // Greedy match that backtracks to the last `*` seen.
    std::size_t ni = 0;
    std::size_t mi = 0;
    std::size_t starMask = std::u32string::npos;
    std::size_t starName = 0;
    while (ni < n.size()) {
        if (mi < m.size() && m[mi] != U'*' && (m[mi] == U'?' || m[mi] == n[ni])) {
            ++ni;
            ++mi;
        } else if (mi < m.size() && m[mi] == U'*') {
            starMask = mi++;
            starName = ni;
        } else if (starMask != std::u32string::npos) {
            mi = starMask + 1;
            ni = ++starName;
        } else {
            return false;
        }
    }
    while (mi < m.size() && m[mi] == U'*') {
        ++mi;
    }
    return mi == m.size();
}

std::optional<std::vector<FolderEntryStatus>> readFolderEntries(const std::string& folder,
                                                                std::u16string_view mask,
                                                                int& error) {
    const auto names = readFolderNames(folder, error);
    if (!names) {
        return std::nullopt;
    }
    const std::vector<std::u16string> wide = wideNames(*names);
    const std::vector<std::u16string> alternates = makeAlternateNames(wide);
    std::vector<FolderEntryStatus> entries;
    for (std::size_t i = 0; i < names->size(); ++i) {
        if (!matchesMask(wide[i], mask)) {
            continue;
        }
        const std::string path = joinPath(folder, (*names)[i]);
        FolderEntryStatus status;
        status.entry.name = (*names)[i];
        struct stat own{};
        const bool ownKnown = lstat(path.c_str(), &own) == 0;
        status.link = ownKnown && S_ISLNK(own.st_mode);
        struct stat st{};
        if (stat(path.c_str(), &st) != 0) {
            status.error = errno;
            if (ownKnown) {
                status.entry.record = makeRecord(own, wide[i], alternates[i]);
            } else {
                setFileName(status.entry.record, wide[i]);
                setAlternateName(status.entry.record, alternates[i]);
            }
        } else {
            status.entry.record = makeRecord(st, wide[i], alternates[i]);
            status.entry.special = specialKindOf(st.st_mode);
            status.identity = FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                                           static_cast<std::uint64_t>(st.st_ino)};
        }
        entries.push_back(std::move(status));
    }
    return entries;
}

std::optional<std::vector<FolderEntry>> listFolderEntries(const std::string& folder,
                                                         std::u16string_view mask) {
    int error = 0;
    auto statuses = readFolderEntries(folder, mask, error);
    if (!statuses) {
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    entries.reserve(statuses->size());
    for (FolderEntryStatus& status : *statuses) {
        if (status.error == 0) {
            entries.push_back(std::move(status.entry));
        }
    }
    return entries;
}

bool isSymbolicLink(const std::string& path) {
    struct stat st{};
    return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string linkTarget(const std::string& path) {
    std::string target(4096, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0) {
        return {};
    }
    target.resize(static_cast<std::size_t>(length));
    return target;
}

std::optional<std::vector<FindData>> listFolder(const std::string& folder,
                                                std::u16string_view mask) {
    auto entries = listFolderEntries(folder, mask);
    if (!entries) {
        return std::nullopt;
    }
    std::vector<FindData> records;
    records.reserve(entries->size());
    for (FolderEntry& entry : *entries) {
        if (!entry.special) {
            records.push_back(entry.record);
        }
    }
    return records;
}

const char* specialFileKind(const std::string& path) {
    struct stat st{};
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        return nullptr;
    }
    return specialKindOf(st.st_mode);
}

std::optional<FindData> findPath(const std::string& path) {
    struct stat st{};
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    std::size_t slash = trimmed.rfind('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (name == "." || name == "..") {
        // "dir/." names the folder itself: take its real name.
        std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), std::free);
        if (!real) {
            return std::nullopt;
        }
        trimmed = real.get();
        slash = trimmed.rfind('/');
        name = trimmed.substr(slash + 1);
    }
    if (trimmed == "/") {
        return makeRecord(st, u"/", u"");
    }
    const std::string parent = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : trimmed.substr(0, slash);
    const std::u16string wideName = toUtf16(name);
    std::vector<std::u16string> siblings{wideName};
    std::size_t index = 0;
    if (const auto names = readFolderNames(parent)) {
        const auto it = std::lower_bound(names->begin(), names->end(), name);
        if (it != names->end() && *it == name) {
            siblings = wideNames(*names);
            index = static_cast<std::size_t>(it - names->begin());
        }
    }
    return makeRecord(st, wideName, makeAlternateNames(siblings)[index]);
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace velk::platform
