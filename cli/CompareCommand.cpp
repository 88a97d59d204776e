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
    std::vector<std::string> paths;
};

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

    int differing = 0, missing = 0, extra = 0, same = 0;
    for (const std::string& path : paths) {
        auto disk = onDisc.find(path);
        auto source = inFolders.find(path);
        if (disk == onDisc.end()) {
            std::printf("missing on the disc: %s\n", path.c_str());
            ++missing;
        } else if (source == inFolders.end()) {
            std::printf("only on the disc: %s\n", path.c_str());
            ++extra;
        } else if (disk->second->size != source->second->size) {
            std::printf("differs: %s: %llu bytes on the disc, %llu in the folder\n", path.c_str(),
                        static_cast<unsigned long long>(disk->second->size),
                        static_cast<unsigned long long>(source->second->size));
            ++differing;
        } else if (std::string why = contentDifference(disc.device(), *disk->second, *source->second);
                   !why.empty()) {
            std::printf("differs: %s: %s\n", path.c_str(), why.c_str());
            ++differing;
        } else {
            ++same;
        }
    }
    std::printf("session %d: %d file%s match, %d differ, %d missing on the disc, %d only on the disc\n", session,
                same, same == 1 ? "" : "s", differing, missing, extra);
    return differing == 0 && missing == 0 && extra == 0 ? ExitOk : ExitFailed;
}

}  // namespace

void addCompareCommand(CLI::App& app) {
    auto options = std::make_shared<CompareOptions>();
    CLI::App* command = app.add_subcommand("compare", "Compare a disc session with the files and folders it was made from");
    addRecorderOptions(command, options->recorder, true);
    command->add_option("--session", options->session, "Session number (default: the last)")
        ->check(CLI::NonNegativeNumber);
    command->add_flag("--keep-path", options->keepPath, "The folders were burned with --keep-path");
    command->add_option("PATH", options->paths, "Files and folders the session was made from")->required();
    command->callback([options] {
        int code = runCompare(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace velk::cli
