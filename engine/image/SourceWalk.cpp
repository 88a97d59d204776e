#include "engine/image/SourceWalk.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "engine/core/TraceLog.h"
#include "engine/image/ImageProject.h"
#include "engine/image/RenamePolicy.h"
#include "engine/image/SourceNotices.h"
#include "engine/image/SourceTree.h"
#include "platform/Text.h"

namespace velk {
namespace {

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
            noteSpecialFile(project, path, entry.special, status.link);
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

bool walkSourceFolder(ImageProject& project, FolderNode* target, const std::string& source,
                      std::u16string_view mask, int recursive, int wide) {
    Walk walk;
    walk.mask = mask;
    walk.recursive = recursive;
    walk.wide = wide;
    return walkFolder(project, target, source, walk);
}

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

}  // namespace velk
