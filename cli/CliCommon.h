// Helpers shared by the velk-cli subcommands.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/api/BurnEngine.h"

namespace velk::cli {

// Exit codes of every subcommand.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// Adds each path the way the application does: a folder with AddDirectory
// ("\", path, "*.*", recursive, keepPath), a file with AddFile ("\", path).
// Returns false when one is refused; every path is still tried, so that one
// run tells every problem (a path that does not exist, an unreadable folder,
// names too long). The engine's failures with a notice of their own are
// left for printSourceNotices; any other gets its line here.
bool addSourcePaths(BurnEngine& engine, const std::vector<std::string>& paths, bool keepPath);

// Keeps the file at `path`, if there is one, out of every tree built
// afterwards, however it is reached; `why` ends its warning line ("it is the
// image being written").
void excludeFromTree(BurnEngine& engine, const std::string& path, const char* why);

// What goes on the disc, as `image` and `burn` take it.
struct ProjectOptions {
    std::string label;
    std::string boot;
    bool noJoliet = false;
    bool noUdf = false;
    bool longNames = false;
    bool keepPath = false;
    bool noFollowLinks = false;
    int bufferSize = 0;
    std::vector<std::string> paths;
};

// --label, --no-joliet, --no-udf, --boot, --long-names, --keep-path,
// --no-follow-links, --buffer-size and the PATH list.
void addProjectOptions(CLI::App* command, ProjectOptions& options);

// The --no-follow-links flag (also on `tree`) and the PATH text that says
// links are followed without it.
void addFollowLinksFlag(CLI::App* command, bool& noFollowLinks);
inline constexpr const char* PathsFollowLinksText = "symbolic links are followed unless --no-follow-links";

// Resets the project, applies the options, adds the paths and plans the
// layout. Returns the image size in blocks, or 0 after printing why not.
// The notices of the add operations (renamed, skipped and invalid names) and
// the label's warnings go to stderr.
int buildProject(BurnEngine& engine, const ProjectOptions& options);
// The two halves of buildProject, for a burn that imports the disc's last
// session in between: reset and options; then paths, boot image, planning.
void startProject(BurnEngine& engine, const ProjectOptions& options);
int addProjectContent(BurnEngine& engine, const ProjectOptions& options);

// One warning line per source file that grew while the last job read it
// (it went on the disc with the size it had when planned).
void warnGrownFiles(BurnEngine& engine, const char* what);

// Which recorder a command talks to.
struct RecorderOptions {
    std::string device;
    std::string trace;
    std::vector<std::string> virtualDiscs;
};

// --trace, --virtual and, with `withDevice`, --device.
void addRecorderOptions(CLI::App* command, RecorderOptions& options, bool withDevice);

// Builds the recorder list as the options ask. Prints "velk-cli: WHAT: why"
// and returns false when there is no recorder to use; a virtual recorder's
// fault plan that names an unknown or malformed rule ends the command with
// ExitUsage (a CLI::RuntimeError) instead.
bool listRecorders(BurnEngine& engine, const RecorderOptions& options, const char* what);

// listRecorders, then selects the recorder named by --device (a list index,
// a drive letter or a /dev path; the first one by default).
bool openRecorder(BurnEngine& engine, const RecorderOptions& options, const char* what);

const char* discTypeName(int type);
bool isCdMedium(int type);

// Catches Ctrl-C while a job runs, so that the job ends on its own terms
// (the caller turns the first one into Abort) instead of the process dying
// with the drive in the middle of a command or a partial file left behind.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

private:
    void (*previous_)(int);
};
// How many times Ctrl-C was pressed while a catcher was in place.
int interruptCount();

// Waits for a job's completion callback.
class JobEnd {
public:
    static void callback(std::int32_t failed, void* context) {
        auto* self = static_cast<JobEnd*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->failed_ = failed;
        self->done_ = true;
        self->changed_.notify_all();
    }
    // Waits up to `period`; true once the job has ended.
    bool waitFor(std::chrono::milliseconds period) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, period, [this] { return done_; });
    }
    int failed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    int failed_ = 0;
};

}  // namespace velk::cli
