// What velk-cli tells the user about the sources it put on a disc: entries
// that went on under another name, names that are not valid UTF-8, special
// files, links and the image itself left out, sources that cannot be read
// or named on the disc, and volume labels that a tree cannot hold whole.
//
// Every line has the form "velk-cli: WHAT: WHY".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/api/BurnEngine.h"
#include "engine/image/ImageProject.h"
#include "engine/image/SourceWalk.h"

namespace velk::cli {

// One line per notice that the add operations left on the project since its
// last reset (renamed entry, invalid UTF-8 name, skipped special file).
void printSourceNotices(BurnEngine& engine, std::FILE* out);

// The line printSourceNotices prints for one notice (without the newline).
std::string sourceNoticeLine(const SourceNotice& notice);

// True when `path` was left out as a special file (a FIFO, socket or device
// node named directly): AddFile gives null for it, and that is no failure.
bool skippedAsSpecialFile(BurnEngine& engine, const std::string& path);
// The same for every way an add leaves a path named directly out with a
// warning and no failure: a special file, an excluded file (the image being
// written), a link not followed or a link to a special file.
bool leftOutWithWarning(BurnEngine& engine, const std::string& path);
// True when an add noted a failure (an unreadable folder, a name too long,
// ...); each has its own line among the notices.
bool hasFailureNotices(BurnEngine& engine);

// The label a volume gets without --label: the name of the folder when
// exactly one folder is given, else today's date (YYYY-MM-DD, local time).
std::string defaultVolumeLabel(const std::vector<std::string>& paths);

// What each tree keeps of a label: ISO 9660 at most 32 bytes (upper-cased),
// Joliet at most 16 UTF-16 units, UDF at most 15; a character is never cut.
struct VolumeLabelForms {
    std::string iso;
    std::string joliet;
    std::string udf;
};
VolumeLabelForms volumeLabelForms(const std::string& label);

// Warns, one line per tree, where the label is longer than that tree keeps,
// showing what the tree will carry.
void warnVolumeLabel(const std::string& label, std::FILE* out);

}  // namespace velk::cli
