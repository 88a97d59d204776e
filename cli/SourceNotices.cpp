#include "cli/SourceNotices.h"

#include <cerrno>
#include <filesystem>

#include "engine/image/ImageProject.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace velk::cli {
namespace {

// A path for a terminal: valid UTF-8 as it is, every byte of an invalid
// sequence as \xNN, so the line shows which file is meant.
std::string printable(const std::string& bytes) {
    if (platform::isValidUtf8(bytes)) return bytes;
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        // The longest valid UTF-8 sequence starting here, if any.
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
        std::string_view piece(bytes.data() + i, std::min(length, bytes.size() - i));
        if (lead < 0x80 || (piece.size() == length && platform::isValidUtf8(piece))) {
            out += piece;
            i += piece.size();
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", lead);
            out += escaped;
            i += 1;
        }
    }
    return out;
}

// The first `units` UTF-16 units of a text, never half of a surrogate pair.
std::u16string firstUnits(std::u16string text, std::size_t units) {
    if (text.size() > units) {
        text.resize(units);
        if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    return text;
}

// The last component of a path, without trailing slashes.
std::string_view lastName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string sourceNoticeLine(const SourceNotice& notice) {
    const std::string source = notice.sourcePath.empty() ? std::string("(new folder)")
                                                         : printable(notice.sourcePath);
    const std::string disc = platform::toUtf8(notice.discPath);
    const std::string head = "velk-cli: " + source + ": ";
    const std::string leftOut = head + "warning: left out: ";
    switch (notice.kind) {
    case SourceNoticeKind::Renamed: {
        // Only names that differ in letter case alone need the reason; the
        // same name (a file and a folder, say) speaks for itself.
        const bool sameName = !notice.takenBy.empty() && lastName(notice.takenBy) == lastName(notice.sourcePath);
        return head + "on the disc as " + disc + ": its name is taken in that folder" +
               (notice.takenBy.empty() ? std::string() : " by " + printable(notice.takenBy)) +
               (sameName ? std::string() : std::string(" (letter case is not told apart)"));
    }
    case SourceNoticeKind::InvalidName:
        return head + "name is not valid UTF-8; on the disc as " + disc;
    case SourceNoticeKind::SpecialFile:
        return head + "skipped: a " + notice.reason + " is not a regular file";
    case SourceNoticeKind::Excluded:
        return leftOut + notice.reason;
    case SourceNoticeKind::LinkSkipped:
        return leftOut + "it is a symbolic link (--no-follow-links)";
    case SourceNoticeKind::LinkLoop:
        if (notice.reason.empty()) return leftOut + "the symbolic link loops";
        return leftOut + "it leads back to " + printable(notice.reason) + ", a folder it is in (a loop)";
    case SourceNoticeKind::LinkDangling:
        return leftOut + "the symbolic link points at nothing (" + printable(notice.reason) + ")";
    case SourceNoticeKind::LinkToSpecial:
        return leftOut + "the symbolic link points at a " + notice.reason + ", not a regular file";
    case SourceNoticeKind::Vanished:
        return leftOut + "it was removed while its folder was read";
    case SourceNoticeKind::UnreadableFolder:
        return head + "cannot read folder: " + platform::systemErrorText(notice.systemError);
    case SourceNoticeKind::Unreadable:
        return head + "cannot read: " + platform::systemErrorText(notice.systemError) +
               (notice.systemError == ENAMETOOLONG ? " (the system takes paths of at most 4096 bytes)"
                                                   : "");
    case SourceNoticeKind::NameTooLong:
        // No option lifts the limit (--long-names only puts names of up to
        // that length in the ISO 9660 tree too), so the line says what does.
        return head + "name too long: names on the disc are at most " + std::to_string(MaxNameLength) +
               " characters, with --long-names too; rename it to keep it on the disc";
    }
    return "velk-cli: " + source;
}

void printSourceNotices(BurnEngine& engine, std::FILE* out) {
    for (const SourceNotice& notice : engine.project().notices) {
        std::fprintf(out, "%s\n", sourceNoticeLine(notice).c_str());
    }
}

bool skippedAsSpecialFile(BurnEngine& engine, const std::string& path) {
    for (const SourceNotice& notice : engine.project().notices) {
        if (notice.kind == SourceNoticeKind::SpecialFile && notice.sourcePath == path) return true;
    }
    return false;
}

bool leftOutWithWarning(BurnEngine& engine, const std::string& path) {
    for (const SourceNotice& notice : engine.project().notices) {
        if (notice.sourcePath != path) continue;
        switch (notice.kind) {
        case SourceNoticeKind::SpecialFile:
        case SourceNoticeKind::Excluded:
        case SourceNoticeKind::LinkSkipped:
        case SourceNoticeKind::LinkToSpecial: return true;
        default: break;
        }
    }
    return false;
}

bool hasFailureNotices(BurnEngine& engine) {
    for (const SourceNotice& notice : engine.project().notices) {
        if (notice.isFailure()) return true;
    }
    return false;
}

std::string defaultVolumeLabel(const std::vector<std::string>& paths) {
    if (paths.size() == 1) {
        std::error_code error;
        if (std::filesystem::is_directory(paths[0], error)) {
            std::filesystem::path folder = std::filesystem::weakly_canonical(paths[0], error);
            if (error) folder = std::filesystem::path(paths[0]);
            std::string name = folder.filename().string();
            if (name.empty()) name = folder.parent_path().filename().string();
            if (!name.empty() && name != "/" && name != "." && name != "..") return name;
        }
    }
    const platform::SystemTime today = platform::fileTimeToLocal(platform::currentFileTime());
    char date[16];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u", unsigned{today.year} % 10000u,
                  unsigned{today.month} % 100u, unsigned{today.day} % 100u);
    return date;
}

VolumeLabelForms volumeLabelForms(const std::string& label) {
    // The engine stores 32 bytes and 32 units of the label; each tree then
    // takes what its field holds.
    std::string stored = platform::toUtf8(platform::toUtf16(label), 32);
    std::u16string wide = platform::toUtf16(stored);
    VolumeLabelForms forms;
    forms.iso = stored;
    platform::upperAsciiInPlace(forms.iso);
    forms.joliet = platform::toUtf8(firstUnits(wide, 16));
    forms.udf = platform::toUtf8(firstUnits(wide, 15));
    return forms;
}

void warnVolumeLabel(const std::string& label, std::FILE* out) {
    const VolumeLabelForms forms = volumeLabelForms(label);
    const std::u16string whole = platform::toUtf16(label);
    struct Tree {
        const char* name;
        const char* limit;
        const std::string& kept;
    };
    const Tree trees[] = {{"ISO 9660", "32 bytes", forms.iso},
                          {"Joliet", "16 characters", forms.joliet},
                          {"UDF", "15 characters", forms.udf}};
    for (const Tree& tree : trees) {
        if (platform::toUtf16(tree.kept).size() < whole.size()) {
            std::fprintf(out, "velk-cli: volume label \"%s\": %s keeps %s: \"%s\"\n",
                         printable(label).c_str(), tree.name, tree.limit, tree.kept.c_str());
        }
    }
}

}  // namespace velk::cli
