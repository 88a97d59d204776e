#include "engine/image/RenamePolicy.h"

#include "engine/core/TraceLog.h"
#include "engine/image/Names.h"
#include "engine/image/SourceNotices.h"
#include "engine/image/SourceTree.h"
#include "platform/Text.h"

namespace velk {
namespace {

using platform::FindData;

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

}  // namespace

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

FolderNode* addFolderItem(ImageProject& project, FolderNode* parent, FindData record,
                          std::string_view origin) {
    if (FileItem* existing = findClash(*parent, record)) {
        bool otherSource = existing->folder && !origin.empty() &&
                           !existing->folder->origin.empty() && existing->folder->origin != origin;
        if (existing->folder && !otherSource) return existing->folder;
        renameEntry(project, *parent, record, true, origin, existing);
    }
    return insertFolder(project, parent, record, origin);
}

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

}  // namespace velk
