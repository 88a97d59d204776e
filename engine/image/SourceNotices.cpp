#include "engine/image/SourceNotices.h"

#include "engine/core/TraceLog.h"
#include "engine/image/SourceTree.h"
#include "platform/Text.h"

namespace velk {

using platform::FindData;

SourceNotice& addNotice(ImageProject& project, SourceNoticeKind kind, std::string_view source,
                        std::u16string discPath, std::string reason) {
    project.notices.push_back(SourceNotice{kind, std::string(source), std::move(discPath),
                                           std::move(reason)});
    return project.notices.back();
}

void addFailure(ImageProject& project, SourceNoticeKind kind, std::string_view source,
                std::u16string discPath, int systemError) {
    trace::write("Cannot add %s (error %d)\n", std::string(source).c_str(), systemError);
    addNotice(project, kind, source, std::move(discPath)).systemError = systemError;
}

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

bool nameFits(ImageProject& project, FolderNode* parent, const FindData& record,
              std::string_view source) {
    std::u16string_view name(record.fileName, platform::u16length(record.fileName));
    if (name.size() <= static_cast<std::size_t>(MaxNameLength)) return true;
    trace::write("Skipping file name (length > 98)\n");
    addFailure(project, SourceNoticeKind::NameTooLong, source,
               parent ? folderPath(parent) + std::u16string(name) : std::u16string(), 0);
    return false;
}

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

void noteInvalidName(ImageProject& project, FolderNode& parent, const FindData& record,
                     std::string_view source) {
    std::u16string_view name(record.fileName, platform::u16length(record.fileName));
    trace::write("Name is not valid UTF-8: %s\n", std::string(source).c_str());
    addNotice(project, SourceNoticeKind::InvalidName, source, folderPath(&parent) + std::u16string(name));
}

void noteSpecialFile(ImageProject& project, const std::string& path, const char* kind, bool throughLink) {
    trace::write("Skipping %s %s\n", kind, path.c_str());
    addNotice(project, throughLink ? SourceNoticeKind::LinkToSpecial : SourceNoticeKind::SpecialFile, path, {},
              kind);
}

}  // namespace velk
