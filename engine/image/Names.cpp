#include "engine/image/Names.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/image/ImageProject.h"
#include "platform/Text.h"

namespace velk {
namespace {

constexpr std::size_t ShortIsoBytes = 13;   // 8.3 plus room for the dot
constexpr std::size_t LongIsoBytes = 206;
constexpr std::size_t FolderIsoBytes = 15;  // a 16-byte zero-terminated field
constexpr int PathTableRounds = 1000;

std::u16string_view nameOf(const char16_t* field, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && field[length] != 0) ++length;
    return {field, length};
}

// The first `count` characters of a name, never splitting a surrogate pair.
std::u16string_view firstCharacters(std::u16string_view name, std::size_t count) {
    std::size_t units = 0;
    for (std::size_t chars = 0; chars < count && units < name.size(); ++chars) {
        bool pair = name[units] >= 0xD800 && name[units] <= 0xDBFF && units + 1 < name.size();
        units += pair ? 2 : 1;
    }
    return name.substr(0, units);
}

std::u16string upperAscii(std::u16string_view name) {
    std::u16string result(name);
    for (char16_t& unit : result) {
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
    return result;
}

std::uint8_t clampLength(std::size_t length) {
    return static_cast<std::uint8_t>(std::min<std::size_t>(length, 255));
}

}  // namespace

bool takesAddedDot(std::u16string_view name, bool folder) {
    return !folder && name.find(u'.') == std::u16string_view::npos;
}

std::u16string jolietFormOf(std::u16string_view name, bool folder) {
    std::u16string joliet(name);
    if (takesAddedDot(name, folder)) joliet += u'.';
    return joliet;
}

std::u16string jolietFormOf(const platform::FindData& record) {
    return jolietFormOf(nameOf(record.fileName, std::size(record.fileName)),
                        (record.attributes & platform::AttrDirectory) != 0);
}

std::u16string_view ownNameOf(const FileItem& item) {
    if (item.folder) return item.folder->longName;
    std::u16string_view name = item.jolietName;
    if (item.jolietDotAdded && !name.empty()) name.remove_suffix(1);
    return name;
}

void assignItemNames(FileItem& item, const platform::FindData& record, bool longNameMode) {
    std::u16string_view longName = nameOf(record.fileName, std::size(record.fileName));
    std::u16string_view alternate = nameOf(record.alternateName, std::size(record.alternateName));
    bool folder = (record.attributes & platform::AttrDirectory) != 0;

    item.jolietName = jolietFormOf(record);
    item.jolietNameLength = clampLength(item.jolietName.size());
    item.jolietDotAdded = item.jolietName.size() > longName.size() ? 1 : 0;

    std::u16string shortForm =
        upperAscii(alternate.empty() ? firstCharacters(longName, 12) : alternate);
    // The length counts bytes of the stored UTF-8 name, so a multi-byte
    // character is never cut when the directory record copies the name.
    if (longNameMode) {
        item.isoName = platform::toUtf8(longName, LongIsoBytes);
    } else {
        item.isoName = platform::toUtf8(shortForm, ShortIsoBytes);
    }
    if (takesAddedDot(shortForm, folder)) item.isoName += '.';
    item.isoNameLength = clampLength(item.isoName.size());
}

void assignFolderNames(FolderNode& node, const platform::FindData& record, bool longNameMode) {
    std::u16string_view longName = nameOf(record.fileName, std::size(record.fileName));
    std::u16string_view alternate = nameOf(record.alternateName, std::size(record.alternateName));

    node.longName = std::u16string(longName);
    node.longNameLength = clampLength(longName.size());
    if (longNameMode) {
        // The path tables must name a folder exactly as its directory
        // record does: in long mode that is the long name.
        node.isoName = platform::toUtf8(longName, LongIsoBytes);
    } else if (!alternate.empty()) {
        node.isoName = platform::toUtf8(alternate, FolderIsoBytes);
    } else {
        node.isoName = platform::toUtf8(firstCharacters(longName, 13), FolderIsoBytes);
        if (node.isoName.empty()) node.isoName = "________.___";
    }
    platform::upperAsciiInPlace(node.isoName);
    node.isoNameLength = clampLength(node.isoName.size());
}

namespace {

// The ISO name as it is written (upper-cased), the key of the uniqueness check.
std::string isoKey(const std::string& name) {
    std::string key = name;
    platform::upperAsciiInPlace(key);
    return key;
}

// Upper-case letters, digits and '_' of `text`, at most `limit` of them.
std::string isoCharacters(std::u16string_view text, std::size_t limit) {
    std::string out;
    for (char16_t c : text) {
        if (out.size() == limit) break;
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_') out += static_cast<char>(c);
    }
    return out;
}

// The first "BASE~N.EXT" made from the long name that no sibling has.
std::string freeIsoName(std::u16string_view longName, bool folder, const std::unordered_set<std::string>& taken) {
    std::u16string_view stem = longName;
    std::u16string_view extension;
    const std::size_t dot = folder ? std::u16string_view::npos : longName.rfind(u'.');
    if (dot != std::u16string_view::npos && dot > 0) {
        stem = longName.substr(0, dot);
        extension = longName.substr(dot + 1);
    }
    std::string base = isoCharacters(stem, 8);
    if (base.empty()) base.push_back('_');
    // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) about
    // "literal" + std::string.
    std::string tail;
    if (!folder) {
        tail = ".";
        tail += isoCharacters(extension, 3);
    }
    for (unsigned n = 1;; ++n) {
        std::string number = "~";
        number += std::to_string(n);
        std::string candidate = base.substr(0, std::min(base.size(), 8 - std::min<std::size_t>(8, number.size())));
        candidate += number;
        candidate += tail;
        if (!taken.count(candidate)) return candidate;
    }
}

}  // namespace

void makeIsoNamesUnique(ImageProject& project) {
    if (project.longNameMode != 0) return;
    for (const auto& folder : project.folderTable) {
        std::unordered_set<std::string> taken;
        std::vector<FileItem*> toPlace;
        // Imported entries (their data is already on the disc) keep their
        // names; so does the first new entry of each name.
        for (FileItem* item = folder->firstChild; item; item = item->next) {
            if (item->fixedBlock) taken.insert(isoKey(item->isoName));
        }
        for (FileItem* item = folder->firstChild; item; item = item->next) {
            if (item->fixedBlock) continue;
            const std::string key = isoKey(item->isoName);
            if (taken.insert(key).second) continue;
            toPlace.push_back(item);
        }
        for (FileItem* item : toPlace) {
            const bool isFolder = item->folder != nullptr;
            std::string name = freeIsoName(ownNameOf(*item), isFolder, taken);
            taken.insert(name);
            item->isoName = name;
            item->isoNameLength = static_cast<std::uint8_t>(name.size());
            if (isFolder) {
                item->folder->isoName = name;
                item->folder->isoNameLength = static_cast<std::uint8_t>(name.size());
            }
        }
    }
}

bool orderPathTable(ImageProject& project) {
    std::vector<FolderNode*>& order = project.pathTableOrder;
    if (order.size() < 2) {
        if (!order.empty()) order[0]->number = 1;
        return true;
    }
    for (int round = 1;; ++round) {
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i]->number = static_cast<std::uint16_t>(i + 1);
        }
        if (round > PathTableRounds) {
            std::printf("failed to sort path table\a");
            std::fflush(stdout);
            return false;
        }
        std::sort(order.begin() + 1, order.end(), [](const FolderNode* a, const FolderNode* b) {
            if (a->parent->number != b->parent->number) {
                return a->parent->number < b->parent->number;
            }
            return a->longName < b->longName;
        });
        bool settled = true;
        for (std::size_t i = 1; i < order.size(); ++i) {
            const FolderNode* previous = order[i - 1];
            const FolderNode* current = order[i];
            if (current->parent->number < previous->parent->number ||
                current->number < previous->number) {
                settled = false;
                break;
            }
        }
        if (settled) return true;
    }
}

}  // namespace velk
