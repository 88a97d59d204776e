#include "cli/CompareCommand.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "cli/SourceNotices.h"
#include "engine/device/MmcCommands.h"
#include "engine/image/ImageProject.h"
#include "engine/image/SourceTree.h"
#include "platform/Text.h"

namespace velk::cli {
namespace {

constexpr const char* What = "compare";
constexpr std::uint32_t BlockBytes = 2048;
constexpr std::uint32_t BlocksPerRead = 32;

struct CompareOptions {
    RecorderOptions recorder;
    int session = 0;
    bool keepPath = false;
    bool json = false;
    std::vector<std::string> paths;
};

// A file whose copy on the disc is not the source's.
struct Difference {
    std::string path;
    std::string reason;
    std::uint64_t discBytes = 0;
    std::uint64_t folderBytes = 0;
};

// What compare found, for --json.
struct CompareResult {
    int session = 0;
    int same = 0;
    std::vector<Difference> differing;
    std::vector<std::string> missing;  // in the folders, not on the disc
    std::vector<std::string> extra;    // on the disc only
};

void printCompareJson(const CompareResult& result) {
    JsonWriter json;
    json.beginObject().field("command", "compare").field("session", result.session);
    json.field("identical", result.differing.empty() && result.missing.empty() && result.extra.empty());
    json.field("matching", result.same);
    json.key("differing").beginArray();
    for (const Difference& difference : result.differing) {
        json.beginObject().field("path", difference.path).field("reason", difference.reason);
        json.field("disc_bytes", static_cast<unsigned long long>(difference.discBytes));
        json.field("folder_bytes", static_cast<unsigned long long>(difference.folderBytes)).endObject();
    }
    json.endArray();
    json.field("missing_on_disc", result.missing).field("only_on_disc", result.extra).endObject();
    printJson(json);
}

// The files of a tree by their path on the disc ("/a/b.txt"), as readers
// show the names (a Joliet name's added dot left out).
std::map<std::string, const FileItem*> filesByPath(const FolderNode& root) {
    std::map<std::string, const FileItem*> files;
    std::vector<std::pair<const FolderNode*, std::string>> pending{{&root, ""}};
    while (!pending.empty()) {
        auto [folder, prefix] = pending.back();
        pending.pop_back();
        for (const FileItem* child = folder->firstChild; child; child = child->next) {
            if (child->folder) {
                pending.emplace_back(child->folder, prefix + "/" + platform::toUtf8(child->folder->longName));
                continue;
            }
            std::u16string name = child->jolietName;
            if (child->jolietDotAdded && !name.empty() && name.back() == u'.') name.pop_back();
            files[prefix + "/" + platform::toUtf8(name)] = child;
        }
    }
    return files;
}

// Why the disc's copy of a file differs from the source, or "" when it does
// not.
std::string contentDifference(RecorderDevice& device, const FileItem& onDisc, const FileItem& source) {
    std::FILE* file = std::fopen(sourceOpenPath(source).c_str(), "rb");
    if (!file) return std::string("cannot be opened: ") + std::strerror(errno);
    std::vector<std::uint8_t> fromDisc(BlocksPerRead * BlockBytes), fromFile(BlocksPerRead * BlockBytes);
    std::string difference;
    std::uint64_t offset = 0;
    while (offset < onDisc.size && difference.empty()) {
        std::uint64_t left = onDisc.size - offset;
        std::uint32_t bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, fromDisc.size()));
        std::uint32_t blocks = (bytes + BlockBytes - 1) / BlockBytes;
        std::uint32_t address = onDisc.dataBlock + static_cast<std::uint32_t>(offset / BlockBytes);
        if (!mmc::Read10(device, address, static_cast<std::uint16_t>(blocks), fromDisc.data())) {
            difference = "block " + std::to_string(address) + " of the disc cannot be read";
            break;
        }
        if (std::fread(fromFile.data(), 1, bytes, file) != bytes) {
            difference = "the file became shorter while it was read";
            break;
        }
        auto mismatch = std::mismatch(fromFile.begin(), fromFile.begin() + bytes, fromDisc.begin());
        if (mismatch.first != fromFile.begin() + bytes) {
            difference = "contents differ from byte " + std::to_string(offset + (mismatch.first - fromFile.begin()));
        }
        offset += bytes;
    }
    std::fclose(file);
    return difference;
}

int runCompare(const CompareOptions& options) {
    BurnEngine disc;
    if (!openRecorder(disc, options.recorder, What)) return ExitFailed;
    disc.ResetProject();
    int session = disc.ImportSession(options.session, "\\");
    if (session == 0 || disc.GetFileCount() == 0) {
        std::fprintf(stderr, "velk-cli: %s: the disc holds no session with files\n", What);
        return ExitFailed;
    }
    if (disc.GetLastErrorCode() != 0) {
        std::fprintf(stderr, "velk-cli: %s: warning: some entries of the disc were left out: %s\n", What,
                     disc.GetLastErrorText());
    }

    // The sources go into a project of their own, named as a burn names them.
    BurnEngine sources;
    sources.ResetProject();
    bool added = addSourcePaths(sources, options.paths, options.keepPath);
    printSourceNotices(sources, stderr);
    if (!added) return ExitFailed;

    std::map<std::string, const FileItem*> onDisc = filesByPath(*disc.project().root);
    std::map<std::string, const FileItem*> inFolders = filesByPath(*sources.project().root);
    std::set<std::string> paths;
    for (const auto& entry : onDisc) paths.insert(entry.first);
    for (const auto& entry : inFolders) paths.insert(entry.first);

    // Text lines go out as they are found; --json prints the result at the end.
    CompareResult result;
    result.session = session;
    const bool text = !options.json;
    for (const std::string& path : paths) {
        auto disk = onDisc.find(path);
        auto source = inFolders.find(path);
        if (disk == onDisc.end()) {
            if (text) std::printf("missing on the disc: %s\n", path.c_str());
            result.missing.push_back(path);
            continue;
        }
        if (source == inFolders.end()) {
            if (text) std::printf("only on the disc: %s\n", path.c_str());
            result.extra.push_back(path);
            continue;
        }
        Difference difference{path, "", disk->second->size, source->second->size};
        if (difference.discBytes != difference.folderBytes) {
            difference.reason = std::to_string(difference.discBytes) + " bytes on the disc, " +
                                std::to_string(difference.folderBytes) + " in the folder";
        } else {
            difference.reason = contentDifference(disc.device(), *disk->second, *source->second);
        }
        if (difference.reason.empty()) {
            ++result.same;
            continue;
        }
        if (text) std::printf("differs: %s: %s\n", path.c_str(), difference.reason.c_str());
        result.differing.push_back(difference);
    }
    if (options.json) {
        printCompareJson(result);
    } else {
        std::printf("session %d: %d file%s match, %zu differ, %zu missing on the disc, %zu only on the disc\n",
                    session, result.same, result.same == 1 ? "" : "s", result.differing.size(),
                    result.missing.size(), result.extra.size());
    }
    const bool identical = result.differing.empty() && result.missing.empty() && result.extra.empty();
    return identical ? ExitOk : ExitFailed;
}

}  // namespace

void addCompareCommand(CLI::App& app) {
    auto options = std::make_shared<CompareOptions>();
    CLI::App* command = app.add_subcommand("compare", "Compare a disc session with the files and folders it was made from");
    addRecorderOptions(command, options->recorder, true);
    command->add_option("--session", options->session, "Session number (default: the last)")
        ->check(CLI::NonNegativeNumber);
    command->add_flag("--keep-path", options->keepPath, "The folders were burned with --keep-path");
    addJsonFlag(command, options->json);
    command->add_option("PATH", options->paths, "Files and folders the session was made from")->required();
    command->callback([options] {
        int code = runCompare(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace velk::cli
