#include "engine/image/SourceTree.h"

#include <algorithm>
#include <cerrno>

#include "engine/core/TraceLog.h"
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

// The child that an entry named `name` would clash with: one of the same
// Joliet name (letter case aside), or one of the same UDF name. A file
// without a dot ("x") is "x." in Joliet but "x" in UDF, so it clashes with
// a folder "x" there, though their Joliet names differ.
FileItem* findClash(FolderNode& parent, std::u16string_view name, bool folder) {
    if (FileItem* item = findChild(parent, jolietFormOf(name, folder))) return item;
    if (folder && takesAddedDot(name, false)) {
        FileItem* file = findChild(parent, jolietFormOf(name, false));
        if (file && !file->folder && file->jolietDotAdded) return file;
    } else if (takesAddedDot(name, folder)) {
        FileItem* other = findChild(parent, name);
        if (other && other->folder) return other;
    }
    return nullptr;
}

FileItem* findClash(FolderNode& parent, const FindData& record) {
    return findClash(parent, std::u16string_view(record.fileName, platform::u16length(record.fileName)),
                     (record.attributes & platform::AttrDirectory) != 0);
}

// Entries from no source (virtual files, imported items, folders made by
// name) keep the plain duplicate rule: the existing entry is used.
bool hasSource(const FileItem& item) {
    return item.folder ? !item.folder->origin.empty() : !item.sourcePath.empty();
}

// The source an entry stands for, as its path's bytes; empty for none.
std::string sourceOf(const FileItem& item) {
    if (item.folder) return item.folder->origin;
    return item.sourceBytes.empty() ? platform::toUtf8(item.sourcePath) : item.sourceBytes;
}

// The first name "stem (N).ext" (a folder: "name (N)"), N from 2, that no
// child of `parent` has under case-insensitive comparison. The stem is cut
// so the name stays within the length limit.
std::u16string uniqueName(FolderNode& parent, std::u16string_view name, bool folder) {
    std::u16string_view stem = name;
    std::u16string_view extension;
    const std::size_t dot = folder ? std::u16string_view::npos : name.rfind(u'.');
    if (dot != std::u16string_view::npos && dot > 0) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    for (unsigned n = 2;; ++n) {
        std::u16string suffix = platform::toUtf16(" (" + std::to_string(n) + ")");
        std::size_t room = static_cast<std::size_t>(MaxNameLength);
        room = room > suffix.size() + extension.size() ? room - suffix.size() - extension.size() : 1;
        std::u16string candidate(platform::cutUtf16(stem, room));
        candidate += suffix;
        candidate += extension;
        if (!findClash(parent, candidate, folder)) return candidate;
    }
}

SourceNotice& addNotice(ImageProject& project, SourceNoticeKind kind, std::string_view source,
                        std::u16string discPath, std::string reason = {}) {
    project.notices.push_back(SourceNotice{kind, std::string(source), std::move(discPath),
                                           std::move(reason)});
    return project.notices.back();
}

// A problem that makes the add fail once the walk has found them all.
void addFailure(ImageProject& project, SourceNoticeKind kind, std::string_view source,
                std::u16string discPath, int systemError) {
    trace::write("Cannot add %s (error %d)\n", std::string(source).c_str(), systemError);
    addNotice(project, kind, source, std::move(discPath)).systemError = systemError;
}

// After an add: when it noted failures (from notice `first` on), the first
// of them becomes the pending error (its path in errorFileName, its system
// error in lastSystemError) and the add fails.
bool failedSince(ImageProject& project, std::size_t first) {
    for (std::size_t i = first; i < project.notices.size(); ++i) {
        const SourceNotice& notice = project.notices[i];
        if (!notice.isFailure()) continue;
        if (notice.kind == SourceNoticeKind::NameTooLong) {
            const std::size_t slash = notice.sourcePath.rfind('/');
            project.errorFileName = platform::toUtf16(
                slash == std::string::npos ? notice.sourcePath : notice.sourcePath.substr(slash + 1));
            project.pendingError = ErrInvalidName;
        } else {
            project.errorFileName = platform::toUtf16(notice.sourcePath);
            project.pendingError = ErrOpenFile;
        }
        project.jobs.lastSystemError = notice.systemError;
        return true;
    }
    return false;
}

// True when the name fits on the disc; else a NameTooLong failure is noted.
bool nameFits(ImageProject& project, FolderNode* parent, const FindData& record,
              std::string_view source) {
    std::u16string_view name(record.fileName, platform::u16length(record.fileName));
    if (name.size() <= static_cast<std::size_t>(MaxNameLength)) return true;
    trace::write("Skipping file name (length > 98)\n");
    addFailure(project, SourceNoticeKind::NameTooLong, source,
               parent ? folderPath(parent) + std::u16string(name) : std::u16string(), 0);
    return false;
}

// Why `identity` must stay off the disc; null when it may go on.
const ExcludedFile* exclusionOf(const ImageProject& project, const platform::FileIdentity& identity) {
    for (const ExcludedFile& excluded : project.excludedFiles) {
        if (excluded.identity == identity) return &excluded;
    }
    return nullptr;
}

const ExcludedFile* exclusionOf(const ImageProject& project, const std::string& path) {
    if (project.excludedFiles.empty()) return nullptr;
    auto identity = platform::fileIdentity(path);
    return identity ? exclusionOf(project, *identity) : nullptr;
}

void noteExcluded(ImageProject& project, const std::string& path, const ExcludedFile& excluded) {
    trace::write("Leaving out %s: %s\n", path.c_str(), excluded.why.c_str());
    addNotice(project, SourceNoticeKind::Excluded, path, {}, excluded.why);
}

void noteLinkSkipped(ImageProject& project, const std::string& path) {
    trace::write("Not following link %s\n", path.c_str());
    addNotice(project, SourceNoticeKind::LinkSkipped, path, {});
}

// Gives `record` a unique name in `parent` and notes the rename, with the
// source of the entry that has the name.
void renameEntry(ImageProject& project, FolderNode& parent, FindData& record, bool folder,
                 std::string_view source, const FileItem* holder) {
    std::u16string_view own(record.fileName, platform::u16length(record.fileName));
    std::u16string name = uniqueName(parent, own, folder);
    platform::setFileName(record, name);
    trace::write("Renamed %s to %s: the name is taken\n", std::string(source).c_str(),
                 platform::toUtf8(name).c_str());
    SourceNotice& notice = addNotice(project, SourceNoticeKind::Renamed, source, folderPath(&parent) + name);
    if (holder) notice.takenBy = sourceOf(*holder);
}

void noteInvalidName(ImageProject& project, FolderNode& parent, const FindData& record,
                     std::string_view source) {
    std::u16string_view name(record.fileName, platform::u16length(record.fileName));
    trace::write("Name is not valid UTF-8: %s\n", std::string(source).c_str());
    addNotice(project, SourceNoticeKind::InvalidName, source, folderPath(&parent) + std::u16string(name));
}

// Adds the item of a folder and its node, or returns the folder that already
// has that name. `origin` is the source folder the new one stands for (empty
// for a folder made by name): a taken name whose folder comes from another
// source, or a file of that name, makes the new folder "name (2)".
FolderNode* addFolderItem(ImageProject& project, FolderNode* parent, FindData record,
                          std::string_view origin = {}) {
    if (FileItem* existing = findClash(*parent, record)) {
        bool otherSource = existing->folder && !origin.empty() &&
                           !existing->folder->origin.empty() && existing->folder->origin != origin;
        if (existing->folder && !otherSource) return existing->folder;
        renameEntry(project, *parent, record, true, origin, existing);
    }
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

// Inserts a file from a source path (its own bytes): a taken name whose
// entry comes from another source, or is a folder, gives the new file a
// unique name instead of dropping it; the same source again keeps the plain
// duplicate rule. A name that is not valid UTF-8 is noted.
FileItem* insertSourceFile(ImageProject& project, FolderNode* parent, FindData record,
                           const std::string& source, bool nameInvalid, int wide) {
    const std::u16string sourcePath = platform::toUtf16(source);
    const bool rawNeeded = !platform::isValidUtf8(source);
    FileItem* existing = findClash(*parent, record);
    if (existing) {
        bool same = existing->sourcePath == sourcePath &&
                    existing->sourceBytes == (rawNeeded ? source : std::string());
        bool rename = existing->folder != nullptr ||
                      (project.replaceExisting == 0 && hasSource(*existing) && !same);
        if (rename) {
            renameEntry(project, *parent, record, false, source, existing);
            existing = nullptr;
        }
    }
    FileItem* item = insertItem(project, parent, record, sourcePath, 0, wide);
    // The plain duplicate rule kept the existing entry as it is.
    if (!item || (existing && project.replaceExisting == 0)) return item;
    item->sourceBytes = rawNeeded ? source : std::string();
    if (nameInvalid) noteInvalidName(project, *parent, record, source);
    return item;
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
                           std::string_view origin = {}) {
    return addFolderItem(project, parent, folderRecord(name), origin);
}

// The folders that keep-path creates for a source folder: every component of
// the path after its leading "/", or of a relative path as given; "." and
// ".." carry no name and are left out. Each stands for the source path up
// to its component, so two source folders whose names differ only in case
// stay apart.
FolderNode* keepPathTarget(ImageProject& project, FolderNode* target, const std::string& source) {
    std::size_t pos = 0;
    while (pos < source.size()) {
        while (pos < source.size() && source[pos] == '/') ++pos;
        std::size_t end = source.find('/', pos);
        if (end == std::string::npos) end = source.size();
        std::string_view part(source.data() + pos, end - pos);
        pos = end;
        if (part.empty() || part == "." || part == "..") continue;
        if (!nameFits(project, target, folderRecord(platform::toUtf16(part)), source.substr(0, end))) {
            return nullptr;
        }
        target = createFolderIn(project, target, platform::toUtf16(part), source.substr(0, end));
        if (!target) return nullptr;
    }
    return target;
}

std::string joinSource(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

// What one AddDirectory walk carries down the tree.
struct Walk {
    std::u16string_view mask;
    int recursive = 0;
    int wide = 0;
    // The folders from the walk's start down to the one being read, to spot
    // a link that leads back up (a loop).
    struct Step {
        platform::FileIdentity identity;
        std::string source;
    };
    std::vector<Step> path;
};

// Notes why an entry that stat cannot follow is left out: a link to nothing
// or in a loop, or an entry removed meanwhile, with a warning; a path too
// long for the system (or another reason) as a failure.
void noteUnfollowable(ImageProject& project, FolderNode* target, const platform::FolderEntryStatus& status,
                      const std::string& path) {
    std::u16string_view name(status.entry.record.fileName, platform::u16length(status.entry.record.fileName));
    if (status.link && status.error == ELOOP) {
        trace::write("Skipping link loop %s\n", path.c_str());
        addNotice(project, SourceNoticeKind::LinkLoop, path, {});
    } else if (status.link && (status.error == ENOENT || status.error == ENOTDIR)) {
        trace::write("Skipping dangling link %s\n", path.c_str());
        addNotice(project, SourceNoticeKind::LinkDangling, path, {}, platform::linkTarget(path));
    } else if (!status.link && status.error == ENOENT) {
        trace::write("Skipping %s: removed while listed\n", path.c_str());
        addNotice(project, SourceNoticeKind::Vanished, path, {});
    } else {
        addFailure(project, SourceNoticeKind::Unreadable, path,
                   target ? folderPath(target) + std::u16string(name) : std::u16string(), status.error);
    }
}

// Walks one source folder into `target`; with a null target it only looks
// for problems (the folder's own name cannot go on the disc, but every
// problem below it is still worth telling in the same run). Problems are
// noted and the walk goes on; false only when it must stop at once (the
// project is full).
bool walkFolder(ImageProject& project, FolderNode* target, const std::string& source, Walk& walk) {
    int listError = 0;
    auto entries = platform::readFolderEntries(source, u"*.*", listError);
    // A folder that can be listed but not searched (read without execute
    // permission) shows every entry unreadable: the folder is the problem.
    if (entries) {
        for (const platform::FolderEntryStatus& status : *entries) {
            if (status.error == EACCES && !status.link) {
                listError = EACCES;
                entries.reset();
                break;
            }
        }
    }
    if (!entries) {
        trace::write("Cannot read folder %s\n", source.c_str());
        addFailure(project, SourceNoticeKind::UnreadableFolder, source,
                   target ? folderPath(target) : std::u16string(), listError);
        return true;
    }
    auto identity = platform::fileIdentity(source);
    if (identity) walk.path.push_back({*identity, source});
    bool goOn = true;
    // One listing serves both passes: subfolders are always walked with
    // "*.*", the mask picks the files.
    if (walk.recursive) {
        for (const platform::FolderEntryStatus& status : *entries) {
            const platform::FolderEntry& entry = status.entry;
            if (status.error != 0 || !(entry.record.attributes & platform::AttrDirectory)) continue;
            std::string child = joinSource(source, entry.name);
            if (status.link && project.followLinks == 0) {
                noteLinkSkipped(project, child);
                continue;
            }
            auto ancestor = std::find_if(walk.path.begin(), walk.path.end(),
                                         [&](const Walk::Step& step) { return step.identity == status.identity; });
            if (ancestor != walk.path.end()) {
                trace::write("Skipping folder link cycle %s\n", child.c_str());
                addNotice(project, SourceNoticeKind::LinkLoop, child, {}, ancestor->source);
                continue;
            }
            FolderNode* folder = nullptr;
            if (target && nameFits(project, target, entry.record, child)) {
                folder = addFolderItem(project, target, entry.record, child);
                if (!folder) {
                    goOn = false;
                    break;
                }
                if (!platform::isValidUtf8(entry.name)) noteInvalidName(project, *target, entry.record, child);
            } else if (!target) {
                (void)nameFits(project, nullptr, entry.record, child);
            }
            if (!walkFolder(project, folder, child, walk)) {
                goOn = false;
                break;
            }
        }
    }
    for (const platform::FolderEntryStatus& status : goOn ? *entries : std::vector<platform::FolderEntryStatus>{}) {
        const platform::FolderEntry& entry = status.entry;
        if (status.error == 0 && (entry.record.attributes & platform::AttrDirectory)) continue;
        std::u16string_view name(entry.record.fileName, platform::u16length(entry.record.fileName));
        if (!platform::matchesMask(name, walk.mask)) continue;
        std::string path = joinSource(source, entry.name);
        if (status.link && project.followLinks == 0) {
            noteLinkSkipped(project, path);
            continue;
        }
        if (status.error != 0) {
            noteUnfollowable(project, target, status, path);
            continue;
        }
        if (entry.special) {
            // A FIFO or device has no bytes to put on a disc (reading one
            // could block for ever): it is left out, and said so.
            trace::write("Skipping %s %s\n", entry.special, path.c_str());
            addNotice(project, status.link ? SourceNoticeKind::LinkToSpecial : SourceNoticeKind::SpecialFile,
                      path, {}, entry.special);
            continue;
        }
        if (const ExcludedFile* excluded = exclusionOf(project, status.identity)) {
            noteExcluded(project, path, *excluded);
            continue;
        }
        if (!nameFits(project, target, entry.record, path) || !target) continue;
        if (!insertSourceFile(project, target, entry.record, path, !platform::isValidUtf8(entry.name),
                              walk.wide)) {
            if (project.pendingError != ErrProjectFull) project.pendingError = ErrInvalidName;
            goOn = false;
            break;
        }
    }
    if (identity) walk.path.pop_back();
    return goOn;
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
        trace::write("Skipping %s %s\n", special, sourcePath.c_str());
        addNotice(project,
                  platform::isSymbolicLink(sourcePath) ? SourceNoticeKind::LinkToSpecial
                                                       : SourceNoticeKind::SpecialFile,
                  sourcePath, {}, special);
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
    Walk walk;
    walk.mask = mask;
    walk.recursive = recursive;
    walk.wide = wide;
    if (!walkFolder(project, target, source, walk)) return nullptr;
    return failedSince(project, first) ? nullptr : target;
}

FolderNode* addDirectory(ImageProject& project, std::u16string_view treePath,
                         std::u16string_view sourceFolder, std::u16string_view mask,
                         int recursive, int keepPath, int wide) {
    return addDirectoryBytes(project, treePath, platform::toUtf8(sourceFolder), mask, recursive,
                             keepPath, wide);
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
