#include "engine/image/SourceTree.h"

#include <algorithm>

#include "engine/device/TraceLog.h"
#include "engine/image/Names.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace velk {
namespace {

using platform::FindData;

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

std::vector<std::u16string_view> splitTreePath(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    std::size_t pos = 0;
    while (pos < path.size()) {
        while (pos < path.size() && isSeparator(path[pos])) ++pos;
        std::size_t end = pos;
        while (end < path.size() && !isSeparator(path[end])) ++end;
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        pos = end;
    }
    return parts;
}

std::u16string_view dropOneTrailingSeparator(std::u16string_view path) {
    if (path.size() > 1 && isSeparator(path.back())) path.remove_suffix(1);
    return path;
}

FileItem* newItem(ImageProject& project) {
    if (project.itemCount() >= MaxItems) {
        project.pendingError = ErrProjectFull;
        return nullptr;
    }
    project.itemTable.push_back(std::make_unique<FileItem>());
    project.prepared = 0;
    return project.itemTable.back().get();
}

FolderNode* newFolder(ImageProject& project) {
    if (project.folderCount() >= MaxFolders) {
        project.pendingError = ErrProjectFull;
        return nullptr;
    }
    project.folderTable.push_back(std::make_unique<FolderNode>());
    FolderNode* folder = project.folderTable.back().get();
    project.pathTableOrder.push_back(folder);
    project.prepared = 0;
    return folder;
}

std::size_t nameKey(std::u16string_view jolietName) {
    return std::hash<std::u16string>{}(platform::foldCase(jolietName));
}

void appendChild(FolderNode& parent, FileItem* item, std::size_t key) {
    if (parent.lastChild) {
        parent.lastChild->next = item;
    } else {
        parent.firstChild = item;
    }
    parent.lastChild = item;
    ++parent.childCount;
    parent.childIndex.emplace(key, item);
}

FileItem* findChild(FolderNode& parent, std::u16string_view jolietName, std::size_t key) {
    auto [first, last] = parent.childIndex.equal_range(key);
    for (auto it = first; it != last; ++it) {
        if (platform::equalsIgnoreCase(it->second->jolietName, jolietName)) return it->second;
    }
    return nullptr;
}

FileItem* findChild(FolderNode& parent, std::u16string_view jolietName) {
    return findChild(parent, jolietName, nameKey(jolietName));
}

// Adds the item of a folder and its node, or returns the folder that already
// has that name.
FolderNode* addFolderItem(ImageProject& project, FolderNode* parent, const FindData& record) {
    FileItem* existing = findChild(*parent, jolietFormOf(record));
    if (existing && existing->folder) return existing->folder;
    if (project.folderCount() >= MaxFolders) {
        project.pendingError = ErrProjectFull;
        return nullptr;
    }
    FileItem* item = insertItem(project, parent, record, {}, 0, 1);
    if (!item) return nullptr;
    // A file of that name that was kept as it is cannot become a folder.
    if (!(item->attributes & platform::AttrDirectory)) return nullptr;
    FolderNode* folder = newFolder(project);
    if (!folder) return nullptr;
    item->folder = folder;
    folder->parent = parent;
    assignFolderNames(*folder, record);
    return folder;
}

FindData folderRecord(std::u16string_view name) {
    FindData record;
    record.attributes = platform::AttrDirectory;
    platform::setFileName(record, name);
    std::u16string_view alternate = name.substr(0, std::min<std::size_t>(name.size(), 12));
    if (!alternate.empty() && alternate.back() >= 0xD800 && alternate.back() <= 0xDBFF) {
        alternate.remove_suffix(1);
    }
    platform::setAlternateName(record, alternate);
    std::uint64_t now = platform::currentFileTime();
    record.creationTime = record.lastAccessTime = record.lastWriteTime = now;
    return record;
}

FolderNode* createFolderIn(ImageProject& project, FolderNode* parent, std::u16string_view name) {
    return addFolderItem(project, parent, folderRecord(name));
}

// The folders that keep-path creates for a source folder: every component of
// the path after its leading "/", or of a relative path as given; "." and
// ".." carry no name and are left out.
FolderNode* keepPathTarget(ImageProject& project, FolderNode* target, std::u16string_view source) {
    for (std::u16string_view part : splitTreePath(source)) {
        if (part == u"." || part == u"..") continue;
        target = createFolderIn(project, target, part);
        if (!target) return nullptr;
    }
    return target;
}

std::string joinSource(const std::string& folder, const char16_t* name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += platform::toUtf8(name);
    return path;
}

FolderNode* walkFolder(ImageProject& project, FolderNode* target, std::string source,
                       std::u16string_view mask, int recursive, int keepPath, int wide,
                       std::vector<platform::FileIdentity>& walkPath) {
    if (source.size() > 1 && source.back() == '/') source.pop_back();
    if (keepPath) {
        target = keepPathTarget(project, target, platform::toUtf16(source));
        if (!target) return nullptr;
    }
    if (auto identity = platform::fileIdentity(source)) walkPath.push_back(*identity);

    // One listing serves both passes: subfolders are always walked with
    // "*.*", the mask picks the files.
    auto entries = platform::listFolder(source, u"*.*");
    if (!entries) {
        trace::write("Cannot read folder %s\n", source.c_str());
        entries.emplace();
    }
    FolderNode* result = target;
    if (recursive) {
        for (const FindData& entry : *entries) {
            if (!(entry.attributes & platform::AttrDirectory)) continue;
            std::string child = joinSource(source, entry.fileName);
            auto identity = platform::fileIdentity(child);
            if (identity && std::find(walkPath.begin(), walkPath.end(), *identity) != walkPath.end()) {
                trace::write("Skipping folder link cycle %s\n", child.c_str());
                continue;
            }
            FolderNode* folder = addFolderItem(project, target, entry);
            if (!folder ||
                !walkFolder(project, folder, child, mask, recursive, 0, wide, walkPath)) {
                result = nullptr;
                break;
            }
        }
    }
    for (const FindData& entry : result ? *entries : std::vector<FindData>{}) {
        if (entry.attributes & platform::AttrDirectory) continue;
        std::u16string_view name(entry.fileName, platform::u16length(entry.fileName));
        if (!platform::matchesMask(name, mask)) continue;
        std::u16string path = platform::toUtf16(joinSource(source, entry.fileName));
        if (!insertItem(project, target, entry, path, 0, wide)) {
            if (project.pendingError != ErrProjectFull) project.pendingError = ErrInvalidName;
            result = nullptr;
            break;
        }
    }
    if (!walkPath.empty()) walkPath.pop_back();
    return result;
}

}  // namespace

std::unique_ptr<ImageProject> createProject() {
    auto project = std::make_unique<ImageProject>();
    project->jolietOn = 1;
    project->udfOn = 1;
    return project;
}

int resetProject(ImageProject& project, int longNames, int /*reserved*/) {
    project.gmtOffset = platform::gmtOffsetQuarterHours();
    project.roundTo32 = 1;
    project.root = nullptr;
    project.pathTableOrder.clear();
    project.folderTable.clear();
    project.itemTable.clear();
    project.headerBuffer.reset();

    FolderNode* root = newFolder(project);
    root->parent = root;
    root->isoName = "ROOT_DIR";
    root->isoNameLength = 8;
    project.root = root;
    project.bootImagePath.clear();
    project.headerBytes = 0;
    if (longNames == 1) project.longNameMode = 1;
    return longNames;
}

FolderNode* findFolder(ImageProject& project, std::u16string_view treePath) {
    FolderNode* folder = project.root;
    for (std::u16string_view part : splitTreePath(treePath)) {
        FileItem* item = findChild(*folder, part);
        if (!item || !item->folder) return nullptr;
        folder = item->folder;
    }
    return folder;
}

std::u16string folderPath(const FolderNode* folder) {
    if (!folder || folder->parent == folder) return u"\\";
    std::vector<const FolderNode*> chain;
    for (const FolderNode* node = folder; node->parent != node; node = node->parent) {
        chain.push_back(node);
    }
    std::u16string path;
    for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
        path += u'\\';
        path += (*node)->longName;
    }
    path += u'\\';
    return path;
}

FileItem* insertItem(ImageProject& project, FolderNode* parent, const FindData& record,
                     std::u16string_view sourcePath, std::uint32_t fixedBlock, int wide) {
    std::u16string name = jolietFormOf(record);
    std::size_t key = nameKey(name);
    FileItem* item = findChild(*parent, name, key);
    if (item && project.replaceExisting == 0) return item;

    std::u16string_view fileName(record.fileName, platform::u16length(record.fileName));
    if (trace::isOpen()) {
        trace::write("%64s - %10u - %s\n", platform::toUtf8(fileName).c_str(), record.sizeLow,
                     platform::toUtf8(folderPath(parent)).c_str());
    }
    if (fileName.size() > static_cast<std::size_t>(MaxNameLength)) {
        project.errorFileName = std::u16string(fileName);
        project.pendingError = ErrInvalidName;
        trace::write("Skipping file name (length > 98)\n");
        return nullptr;
    }
    if (!item) {
        item = newItem(project);
        if (!item) return nullptr;
        appendChild(*parent, item, key);
    }
    assignItemNames(*item, record, project.longNameMode != 0);
    item->date = platform::fileTimeToLocal(record.lastWriteTime);
    item->size = (static_cast<std::uint64_t>(record.sizeHigh) << 32) | record.sizeLow;
    item->sourcePath = std::u16string(sourcePath);
    item->wideSource = wide;
    item->dataBlock = fixedBlock;
    item->fixedBlock = fixedBlock != 0 ? 1 : 0;
    item->attributes = record.attributes;
    project.prepared = 0;
    return item;
}

FileItem* addFileAs(ImageProject& project, std::u16string_view treePath,
                    std::u16string_view sourcePath, std::u16string_view longName,
                    std::u16string_view shortName, int wide) {
    auto record = platform::findPath(platform::toUtf8(sourcePath));
    // A folder cannot stand as a file: its bytes could never be read.
    if (!record || (record->attributes & platform::AttrDirectory)) return nullptr;
    FolderNode* folder = findFolder(project, dropOneTrailingSeparator(treePath));
    if (!folder) return nullptr;
    if (!longName.empty()) {
        platform::setFileName(*record, longName);
        platform::setAlternateName(*record, shortName);
    }
    return insertItem(project, folder, *record, sourcePath, 0, wide);
}

FileItem* addFile(ImageProject& project, std::u16string_view treePath,
                  std::u16string_view sourcePath, int wide) {
    return addFileAs(project, treePath, sourcePath, {}, {}, wide);
}

FileItem* addVirtualFile(ImageProject& project, std::u16string_view treePath,
                         const FindData& record, ChunkDataCallback callback, void* context) {
    FolderNode* folder = findFolder(project, dropOneTrailingSeparator(treePath));
    if (!folder) return nullptr;
    FileItem* item = insertItem(project, folder, record, {}, 0, 1);
    if (!item) return nullptr;
    item->dataCallback = callback;
    item->callbackContext = context;
    return item;
}

FolderNode* createFolder(ImageProject& project, std::u16string_view parentTreePath,
                         std::u16string_view name) {
    FolderNode* parent = findFolder(project, parentTreePath);
    if (!parent) return nullptr;
    return createFolderIn(project, parent, name);
}

FolderNode* addDirectory(ImageProject& project, std::u16string_view treePath,
                         std::u16string_view sourceFolder, std::u16string_view mask,
                         int recursive, int keepPath, int wide) {
    FolderNode* target = findFolder(project, treePath);
    if (!target) return nullptr;
    std::vector<platform::FileIdentity> walkPath;
    return walkFolder(project, target, platform::toUtf8(sourceFolder), mask, recursive, keepPath,
                      wide, walkPath);
}

int setVolumeLabelW(ImageProject& project, const char16_t* label) {
    std::u16string_view text(label ? label : u"", platform::u16length(label));
    std::u16string wide = platform::toUtf16(platform::toUtf8(text), 32);
    std::fill(std::begin(project.volumeLabelW), std::end(project.volumeLabelW), u'\0');
    std::copy(wide.begin(), wide.end(), project.volumeLabelW);
    std::string narrow = platform::toUtf8(text, 32);
    std::fill(std::begin(project.volumeLabel), std::end(project.volumeLabel), '\0');
    std::copy(narrow.begin(), narrow.end(), project.volumeLabel);
    return static_cast<int>(narrow.size());
}

int setVolumeLabel(ImageProject& project, const char* label) {
    std::u16string wide = platform::toUtf16(label ? label : "");
    return setVolumeLabelW(project, wide.c_str());
}

}  // namespace velk
