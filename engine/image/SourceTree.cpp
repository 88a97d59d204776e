#include "engine/image/SourceTree.h"

#include <algorithm>

#include "engine/core/TraceLog.h"
#include "engine/image/Names.h"
#include "engine/image/RenamePolicy.h"
#include "engine/image/SourceNotices.h"
#include "engine/image/SourceWalk.h"
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

}  // namespace

std::unique_ptr<ImageProject> createProject() {
    auto project = std::make_unique<ImageProject>();
    project->jolietOn = 1;
    project->udfOn = 1;
    return project;
}

int resetProject(ImageProject& project, int longNames, int /*reserved*/) {
    project.gmtOffset = platform::gmtOffsetQuarterHours();
    const platform::LocalTime now = platform::fileTimeToLocalTime(platform::currentFileTime());
    project.rootDate = now.time;
    project.rootUtcOffsetMinutes = now.utcOffsetMinutes;
    project.notices.clear();
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

FileItem* findChild(FolderNode& parent, std::u16string_view jolietName) {
    return findChild(parent, jolietName, nameKey(jolietName));
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
    const platform::LocalTime date = platform::fileTimeToLocalTime(record.lastWriteTime);
    item->date = date.time;
    item->utcOffsetMinutes = date.utcOffsetMinutes;
    item->size = (static_cast<std::uint64_t>(record.sizeHigh) << 32) | record.sizeLow;
    item->sourcePath = std::u16string(sourcePath);
    item->sourceBytes.clear();
    item->wideSource = wide;
    item->dataBlock = fixedBlock;
    item->fixedBlock = fixedBlock != 0 ? 1 : 0;
    item->attributes = record.attributes;
    project.prepared = 0;
    return item;
}

FolderNode* insertFolder(ImageProject& project, FolderNode* parent, const FindData& record,
                         std::string_view origin) {
    if (project.folderCount() >= MaxFolders) {
        project.pendingError = ErrProjectFull;
        return nullptr;
    }
    FileItem* item = insertItem(project, parent, record, {}, 0, 1);
    if (!item) return nullptr;
    // A file of that name that was kept as it is cannot become a folder.
    if (!(item->attributes & platform::AttrDirectory) || item->folder) return nullptr;
    FolderNode* folder = newFolder(project);
    if (!folder) return nullptr;
    item->folder = folder;
    folder->parent = parent;
    folder->item = item;
    folder->origin = std::string(origin);
    assignFolderNames(*folder, record, project.longNameMode != 0);
    return folder;
}

FindData folderRecord(std::u16string_view name) {
    FindData record;
    record.attributes = platform::AttrDirectory;
    platform::setFileName(record, name);
    platform::setAlternateName(record, platform::cutUtf16(name, 12));
    std::uint64_t now = platform::currentFileTime();
    record.creationTime = record.lastAccessTime = record.lastWriteTime = now;
    return record;
}

FolderNode* createFolderIn(ImageProject& project, FolderNode* parent, std::u16string_view name,
                           std::string_view origin) {
    return addFolderItem(project, parent, folderRecord(name), origin);
}

FileItem* addFileAsBytes(ImageProject& project, std::u16string_view treePath,
                         const std::string& sourcePath, std::u16string_view longName,
                         std::u16string_view shortName, int wide) {
    // The cases below that return null after a notice leave the file out
    // without failing: the caller finds the notice (see SourceNotice).
    if (project.followLinks == 0 && platform::isSymbolicLink(sourcePath)) {
        noteLinkSkipped(project, sourcePath);
        return nullptr;
    }
    if (const char* special = platform::specialFileKind(sourcePath)) {
        noteSpecialFile(project, sourcePath, special, platform::isSymbolicLink(sourcePath));
        return nullptr;
    }
    if (const ExcludedFile* excluded = exclusionOf(project, sourcePath)) {
        noteExcluded(project, sourcePath, *excluded);
        return nullptr;
    }
    auto record = platform::findPath(sourcePath);
    // A folder cannot stand as a file: its bytes could never be read.
    if (!record || (record->attributes & platform::AttrDirectory)) return nullptr;
    FolderNode* folder = findFolder(project, dropOneTrailingSeparator(treePath));
    if (!folder) return nullptr;
    bool nameInvalid = false;
    if (!longName.empty()) {
        platform::setFileName(*record, longName);
        platform::setAlternateName(*record, shortName);
    } else {
        std::string_view trimmed = sourcePath;
        while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
        std::size_t slash = trimmed.rfind('/');
        nameInvalid = !platform::isValidUtf8(slash == std::string_view::npos ? trimmed
                                                                            : trimmed.substr(slash + 1));
    }
    const std::size_t first = project.notices.size();
    if (!nameFits(project, folder, *record, sourcePath)) {
        (void)failedSince(project, first);
        return nullptr;
    }
    return insertSourceFile(project, folder, *record, sourcePath, nameInvalid, wide);
}

FileItem* addFileAs(ImageProject& project, std::u16string_view treePath,
                    std::u16string_view sourcePath, std::u16string_view longName,
                    std::u16string_view shortName, int wide) {
    return addFileAsBytes(project, treePath, platform::toUtf8(sourcePath), longName, shortName, wide);
}

FileItem* addFile(ImageProject& project, std::u16string_view treePath,
                  std::u16string_view sourcePath, int wide) {
    return addFileAs(project, treePath, sourcePath, {}, {}, wide);
}

FileItem* addFileBytes(ImageProject& project, std::u16string_view treePath,
                       std::string_view sourcePath, int wide) {
    return addFileAsBytes(project, treePath, std::string(sourcePath), {}, {}, wide);
}

std::string sourceOpenPath(const FileItem& item) {
    return item.sourceBytes.empty() ? platform::toUtf8(item.sourcePath) : item.sourceBytes;
}

FileItem* addVirtualFile(ImageProject& project, std::u16string_view treePath,
                         const FindData& record, ChunkDataCallback callback, void* context) {
    FolderNode* folder = findFolder(project, dropOneTrailingSeparator(treePath));
    if (!folder) return nullptr;
    // A folder of that name stays a folder: the file takes a name of its own.
    FindData own = record;
    FileItem* existing = findClash(*folder, own);
    if (existing && existing->folder) {
        renameEntry(project, *folder, own, false, {}, existing);
        existing = nullptr;
    }
    // An entry of that name that the duplicate rule keeps stays as it is.
    const bool kept = project.replaceExisting == 0 && existing != nullptr;
    FileItem* item = insertItem(project, folder, own, {}, 0, 1);
    if (!item || kept) return item;
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

FolderNode* addDirectoryBytes(ImageProject& project, std::u16string_view treePath,
                              std::string_view sourceFolder, std::u16string_view mask,
                              int recursive, int keepPath, int wide) {
    FolderNode* target = findFolder(project, treePath);
    if (!target) return nullptr;
    std::string source(sourceFolder);
    // "link/" names the folder the link points at, so only the bare form
    // counts as the link itself.
    if (project.followLinks == 0 && platform::isSymbolicLink(source)) {
        noteLinkSkipped(project, source);
        return nullptr;
    }
    if (source.size() > 1 && source.back() == '/') source.pop_back();
    const std::size_t first = project.notices.size();
    if (keepPath) {
        target = keepPathTarget(project, target, source);
        if (!target) {
            (void)failedSince(project, first);
            return nullptr;
        }
    }
    if (!walkSourceFolder(project, target, source, mask, recursive, wide)) return nullptr;
    return failedSince(project, first) ? nullptr : target;
}

FolderNode* addDirectory(ImageProject& project, std::u16string_view treePath,
                         std::u16string_view sourceFolder, std::u16string_view mask,
                         int recursive, int keepPath, int wide) {
    return addDirectoryBytes(project, treePath, platform::toUtf8(sourceFolder), mask, recursive,
                             keepPath, wide);
}

}  // namespace velk
