// Recording what the add operations have to tell the user (SourceNotice,
// ExcludedFile in SourceWalk.h): each notice also goes to the trace log, and
// the failures among them fail the add once it has found them all.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/image/ImageProject.h"
#include "platform/FindData.h"

namespace velk {

SourceNotice& addNotice(ImageProject& project, SourceNoticeKind kind, std::string_view source,
                        std::u16string discPath, std::string reason = {});

// A problem that makes the add fail once the walk has found them all.
void addFailure(ImageProject& project, SourceNoticeKind kind, std::string_view source,
                std::u16string discPath, int systemError);

// After an add: when it noted failures (from notice `first` on), the first
// of them becomes the pending error (its path in errorFileName, its system
// error in lastSystemError) and the add fails.
bool failedSince(ImageProject& project, std::size_t first);

// True when the name fits on the disc; else a NameTooLong failure is noted
// (with the disc path it would have had below `parent`, when there is one).
bool nameFits(ImageProject& project, FolderNode* parent, const platform::FindData& record,
              std::string_view source);

// Why a file must stay off the disc; null when it may go on.
const ExcludedFile* exclusionOf(const ImageProject& project, const platform::FileIdentity& identity);
const ExcludedFile* exclusionOf(const ImageProject& project, const std::string& path);
void noteExcluded(ImageProject& project, const std::string& path, const ExcludedFile& excluded);

// A link left out because links are not followed.
void noteLinkSkipped(ImageProject& project, const std::string& path);

// A name that is not valid UTF-8, with the disc path it got below `parent`.
void noteInvalidName(ImageProject& project, FolderNode& parent, const platform::FindData& record,
                     std::string_view source);

// A FIFO, socket or device left out (`kind` names it): it has no bytes to
// put on a disc, and reading one could block for ever.
void noteSpecialFile(ImageProject& project, const std::string& path, const char* kind, bool throughLink);

}  // namespace velk
