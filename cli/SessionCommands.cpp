#include "cli/SessionCommands.h"

#include <cstdio>
#include <memory>
#include <string>

#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "engine/image/ImageProject.h"
#include "engine/image/SessionImport.h"
#include "platform/Text.h"

namespace velk::cli {
namespace {

struct LsOptions {
    RecorderOptions recorder;
    int session = 0;
    bool json = false;
};

// An entry's name as a reader shows it: without the dot a Joliet name gets
// when the file has no extension.
std::string entryName(const FileItem& item) {
    if (item.folder) return platform::toUtf8(item.folder->longName);
    std::u16string name = item.jolietName;
    if (item.jolietDotAdded && !name.empty() && name.back() == u'.') name.pop_back();
    return platform::toUtf8(name);
}

// Calls `visit(item, path)` for every entry below `folder`, in disc order,
// a folder before its content.
template <typename Visit>
void walkTree(const FolderNode& folder, const std::string& prefix, Visit&& visit) {
    for (const FileItem* child = folder.firstChild; child; child = child->next) {
        std::string path = prefix + "/" + entryName(*child);
        visit(*child, child->folder ? path + "/" : path);
        if (child->folder) walkTree(*child->folder, path, visit);
    }
}

// "YYYY-MM-DD HH:MM:SS", local time, as the disc records it.
std::string dateText(const platform::SystemTime& d) {
    char text[64];  // room for any field values, as the compiler counts them
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", d.year, d.month, d.day, d.hour, d.minute,
                  d.second);
    return text;
}

void printLsJson(int session, const FolderNode& root) {
    JsonWriter json;
    json.beginObject().field("command", "ls").field("session", session).key("entries").beginArray();
    walkTree(root, "", [&](const FileItem& item, const std::string& path) {
        json.beginObject().field("path", path).field("type", item.folder ? "folder" : "file");
        json.field("size", static_cast<unsigned long long>(item.folder ? 0 : item.size));
        json.field("date", dateText(item.date)).endObject();
    });
    json.endArray().endObject();
    printJson(json);
}

bool replaced(const FileItem& item) { return !item.sourcePath.empty() || item.dataCallback != nullptr; }

int runLs(const LsOptions& options) {
    BurnEngine engine;
    if (!openRecorder(engine, options.recorder, "ls")) return ExitFailed;
    const int sessions = engine.GetSessionCount();
    if (options.session > sessions) {
        std::fprintf(stderr, "velk-cli: ls: the disc has %d session%s\n", sessions, sessions == 1 ? "" : "s");
        return ExitFailed;
    }
    engine.ResetProject();
    const int session = engine.ImportSession(options.session, "\\");
    if (session == 0 || engine.GetFileCount() == 0) {
        if (session == 0) {
            std::fprintf(stderr, "velk-cli: ls: the disc holds no session\n");
        } else {
            std::fprintf(stderr, "velk-cli: ls: session %d holds no files\n", session);
        }
        return ExitFailed;
    }
    // Said before the listing, so that a script reading --json sees it on
    // stderr before the object ends.
    if (engine.GetLastErrorCode() != 0) {
        std::fprintf(stderr, "velk-cli: ls: some entries were left out: %s\n", engine.GetLastErrorText());
    }
    if (options.json) {
        printLsJson(session, *engine.project().root);
        return ExitOk;
    }
    std::printf("session %d\n", session);
    walkTree(*engine.project().root, "", [](const FileItem& item, const std::string& path) {
        const platform::SystemTime& d = item.date;
        std::printf("%s\t%llu\t%04u-%02u-%02u %02u:%02u:%02u\n", path.c_str(),
                    static_cast<unsigned long long>(item.folder ? 0 : item.size), d.year, d.month, d.day, d.hour,
                    d.minute, d.second);
    });
    return ExitOk;
}

}  // namespace

AppendImport importForAppend(BurnEngine& engine, bool noImport, std::FILE* out) {
    AppendImport import;
    const int sessions = engine.GetSessionCount();
    if (sessions == 0) return import;
    if (noImport) {
        std::fprintf(out, "warning: --no-import: the files already on the disc will no longer be visible\n");
        return import;
    }
    const int session = engine.ImportSession(0, "\\");
    ImageProject& project = engine.project();
    if (project.itemCount() == 0) return import;  // no tree in that session
    import.session = session;
    walkTree(*project.root, "", [&](const FileItem& item, const std::string& path) {
        if (!item.folder) import.files.push_back({&item, path});
    });
    engine.SetReplaceExisting(1);
    std::fprintf(out, "appending session %d; keeping %zu file%s of the disc\n", session + 1, import.files.size(),
                 import.files.size() == 1 ? "" : "s");
    return import;
}

int printReplacedFiles(const AppendImport& import, std::FILE* out) {
    int count = 0;
    for (const ImportedFile& file : import.files) {
        if (!replaced(*file.item)) continue;
        std::fprintf(out, "replacing %s\n", file.path.c_str());
        ++count;
    }
    return count;
}

void printSessionList(BurnEngine& engine, std::FILE* out) {
    for (const image::SessionExtent& session : image::listSessions(engine.device())) {
        std::fprintf(out, "session %d: start %u, size %u blocks\n", session.number, session.start, session.blocks);
    }
}

void addSessionCommands(CLI::App& app) {
    auto options = std::make_shared<LsOptions>();
    CLI::App* command = app.add_subcommand("ls", "List the files of a session of the disc as an append keeps them");
    addRecorderOptions(command, options->recorder, true);
    command->add_option("--session", options->session, "Session to list (default 0: the last)")
        ->check(CLI::Range(0, 255));
    addJsonFlag(command, options->json);
    command->callback([options] {
        int code = runLs(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace velk::cli
