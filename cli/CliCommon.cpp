#include "cli/CliCommon.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "cli/SourceNotices.h"
#include "engine/core/Media.h"
#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"
#include "engine/jobs/RecorderWaits.h"
#include "platform/FindData.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/FaultInjector.h"

namespace velk::cli {
namespace {

constexpr const char* PluginFileName = "libvelk-vrec.so";

// The virtual recorder's library: $VELK_VIRTUAL_RECORDER_LIBRARY, else beside
// the program, in the build tree's virtual-recorder folder or in ../lib, else
// the loader's search path.
std::string virtualRecorderLibrary() {
    if (const char* chosen = std::getenv("VELK_VIRTUAL_RECORDER_LIBRARY"); chosen && *chosen) return chosen;
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path folder = program.parent_path();
        for (const std::filesystem::path& candidate :
             {folder / PluginFileName, folder.parent_path() / "virtual-recorder" / PluginFileName,
              folder.parent_path() / "lib" / PluginFileName}) {
            if (std::filesystem::exists(candidate, error)) return candidate.string();
        }
    }
    return PluginFileName;
}

// The plugin only warns about a fault plan it cannot read and goes on
// without it, so a mistyped plan would pass unnoticed: a wrong rule in
// VELK_VIRTUAL_FAULTS or VELK_VIRTUAL_FAULTS_<n> is a usage error here, before
// any drive is set up.
void checkFaultPlans(std::size_t drives, const char* what) {
    std::vector<std::string> names{"VELK_VIRTUAL_FAULTS"};
    for (std::size_t i = 0; i < drives; ++i) names.push_back("VELK_VIRTUAL_FAULTS_" + std::to_string(i));
    for (const std::string& name : names) {
        const char* plan = std::getenv(name.c_str());
        if (!plan || !*plan) continue;
        vrec::FaultInjector scratch;
        std::string error;
        if (scratch.addPlan(plan, &error)) continue;
        std::fprintf(stderr, "velk-cli: %s: %s: %s; the rules are: %s\n", what, name.c_str(), error.c_str(),
                     vrec::FaultInjector::ruleForms().c_str());
        throw CLI::RuntimeError(ExitUsage);
    }
}

// Ctrl-C only counts here; the waiting loops turn the count into one Abort.
std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void countInterrupt(int) { interrupts.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

InterruptCatcher::InterruptCatcher() : previous_(std::signal(SIGINT, countInterrupt)) {}
InterruptCatcher::~InterruptCatcher() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
int interruptCount() { return interrupts.load(std::memory_order_relaxed); }

bool addSourcePaths(BurnEngine& engine, const std::vector<std::string>& paths, bool keepPath) {
    bool allAdded = true;
    for (const std::string& path : paths) {
        // A link left unfollowed is the engine's to skip, whatever it points at.
        const bool linkLeftOut = engine.project().followLinks == 0 && platform::isSymbolicLink(path);
        struct stat st{};
        if (!linkLeftOut && ::stat(path.c_str(), &st) != 0) {
            const int error = errno;
            if (error == ENOENT && platform::isSymbolicLink(path)) {
                std::cerr << "velk-cli: " << path << ": the symbolic link points at nothing ("
                          << platform::linkTarget(path) << ")\n";
            } else if (error == ENOENT || error == ENOTDIR) {
                std::cerr << "velk-cli: " << path << ": no such file or folder\n";
            } else {
                std::cerr << "velk-cli: " << path << ": cannot read: " << platform::systemErrorText(error) << "\n";
            }
            allAdded = false;
            continue;
        }
        const bool folder = !linkLeftOut && S_ISDIR(st.st_mode);
        const std::size_t noticesBefore = engine.project().notices.size();
        ItemHandle added = folder ? engine.AddDirectory("\\", path.c_str(), "*.*", 1, keepPath ? 1 : 0)
                                  : engine.AddFile("\\", path.c_str());
        // A FIFO, socket or device named directly, a link not followed and
        // the image being written are left out with a notice.
        if (!added && !folder && leftOutWithWarning(engine, path)) continue;
        if (added) continue;
        allAdded = false;
        bool ownLines = false;
        for (std::size_t i = noticesBefore; i < engine.project().notices.size(); ++i) {
            ownLines = ownLines || engine.project().notices[i].isFailure();
        }
        if (ownLines) {
            // Its lines come with the notices; the error they leave is theirs.
            (void)engine.GetLastErrorCode();
            continue;
        }
        if (engine.project().pendingError.load() == ErrNone) {
            // Null with no reason: what stat saw a moment ago is gone.
            std::cerr << "velk-cli: " << path << ": cannot be added: it was removed or changed meanwhile\n";
            continue;
        }
        std::cerr << "velk-cli: " << path << ": " << engine.GetLastErrorText() << "\n";
        // Anything else (a full project) ends the adding.
        return false;
    }
    return allAdded;
}

void excludeFromTree(BurnEngine& engine, const std::string& path, const char* why) {
    if (auto identity = platform::fileIdentity(path)) {
        engine.project().excludedFiles.push_back(ExcludedFile{*identity, why});
    }
}

void addFollowLinksFlag(CLI::App* command, bool& noFollowLinks) {
    command->add_flag("--no-follow-links", noFollowLinks,
                      "Leave out every symbolic link, each with a warning (by default a link is followed "
                      "and what it points at goes on the disc)");
}

namespace {

// The ring buffer sizes the engine takes: 2 MiB up to 10,000 chunks of 64 KiB.
constexpr long long MinBufferBytes = 2097152;
constexpr long long MaxBufferBytes = 655360000;

// A number of bytes in that range, said in words a user can act on (the
// parser's own message would echo a number of any length back).
CLI::Validator bufferSizeRange() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
            if (digits && text.size() <= 10) {
                long long bytes = std::stoll(text);
                if (bytes >= MinBufferBytes && bytes <= MaxBufferBytes) return {};
            }
            return "the ring buffer takes " + std::to_string(MinBufferBytes) + " to " +
                   std::to_string(MaxBufferBytes) + " bytes";
        },
        "BYTES");
}

}  // namespace

void addProjectOptions(CLI::App* command, ProjectOptions& options) {
    command->add_option("--label", options.label,
                        "Volume label: ISO 9660 keeps 32 characters (upper-cased), Joliet 16, UDF 15; "
                        "default: the name of the one folder given, else the date");
    command->add_flag("--no-joliet", options.noJoliet, "Leave out the Joliet tree");
    command->add_flag("--no-udf", options.noUdf, "Leave out the UDF bridge");
    command->add_option("--boot", options.boot,
                        "El Torito boot image: a 2048-byte no-emulation loader, or a floppy image of "
                        "1,228,800, 1,474,560 or 2,949,120 bytes");
    command->add_flag("--long-names", options.longNames, "ISO names are the long names (up to 98 characters)");
    command->add_flag("--keep-path", options.keepPath, "Keep each folder's source path as folders in the image");
    command->add_option("--buffer-size", options.bufferSize, "Ring buffer size in bytes (2097152 to 655360000)")
        ->check(bufferSizeRange());
    addFollowLinksFlag(command, options.noFollowLinks);
    command->add_option("PATH", options.paths,
                        std::string("Files and folders to put on the disc; ") + PathsFollowLinksText)
        ->required();
}

void startProject(BurnEngine& engine, const ProjectOptions& options) {
    engine.ResetProjectEx(options.longNames ? 1 : 0, 0);
    engine.project().followLinks = options.noFollowLinks ? 0 : 1;
    // Without --label the volume is named after the one folder given, else
    // the date, never left blank.
    const std::string label = options.label.empty() ? defaultVolumeLabel(options.paths) : options.label;
    engine.SetVolumeLabel(label.c_str());
    warnVolumeLabel(label, stderr);
    engine.SetJoliet(options.noJoliet ? 0 : 1);
    engine.SetUdfBridge(options.noUdf ? 0 : 1);
    if (options.bufferSize > 0) engine.SetBufferSize(options.bufferSize);
}

int buildProject(BurnEngine& engine, const ProjectOptions& options) {
    startProject(engine, options);
    return addProjectContent(engine, options);
}

int addProjectContent(BurnEngine& engine, const ProjectOptions& options) {
    bool added = addSourcePaths(engine, options.paths, options.keepPath);
    printSourceNotices(engine, stderr);
    if (!added) return 0;
    if (!options.boot.empty() && !engine.SetBootImage(options.boot.c_str())) {
        std::fprintf(stderr,
                     "velk-cli: %s: cannot be used as a boot image (a 2048-byte loader or a 1.2, 1.44 "
                     "or 2.88 MB floppy image)\n",
                     options.boot.c_str());
        return 0;
    }
    int blocks = engine.PrepareImage();
    if (blocks <= 0) {
        std::fprintf(stderr, "velk-cli: planning failed: %s\n", engine.GetLastErrorText());
        return 0;
    }
    return blocks;
}

void warnGrownFiles(BurnEngine& engine, const char* what) {
    for (const std::u16string& name : engine.project().jobs.grownFiles) {
        std::fprintf(stderr, "velk-cli: %s: warning: %s grew while it was read; it went on with its size when planned\n",
                     what, platform::toUtf8(name).c_str());
    }
}

void addRecorderOptions(CLI::App* command, RecorderOptions& options, bool withDevice) {
    if (withDevice) {
        command->add_option("--device", options.device, "Recorder: list index, drive letter or /dev path");
    }
    command->add_option("--trace", options.trace, "Write a command trace to FILE");
    command->add_option("--virtual", options.virtualDiscs, "Use the virtual recorder on these disc files");
}

bool listRecorders(BurnEngine& engine, const RecorderOptions& options, const char* what) {
    const char* trace = options.trace.empty() ? nullptr : options.trace.c_str();
    if (trace) {
        // Initialise fails alike for a trace log it cannot open and a
        // recorder library it cannot load; tell the two apart here.
        std::FILE* log = std::fopen(trace, "a");
        if (!log) {
            std::fprintf(stderr, "velk-cli: %s: %s: cannot open the trace log\n", what, trace);
            return false;
        }
        std::fclose(log);
    }
    int result;
    if (!options.virtualDiscs.empty()) {
        checkFaultPlans(options.virtualDiscs.size(), what);
        // A damaged disc file is refused here with its reason, rather than
        // becoming a drive without a disc.
        for (const std::string& disc : options.virtualDiscs) {
            std::error_code missing;
            if (!std::filesystem::exists(disc, missing)) continue;  // a missing file stays an empty drive
            std::string error;
            if (!vrec::DiscStore::open(disc, &error)) {
                std::fprintf(stderr, "velk-cli: %s: %s\n", what, error.c_str());
                return false;
            }
        }
        std::string discs;
        for (const std::string& disc : options.virtualDiscs) {
            if (!discs.empty()) discs += ':';
            discs += std::filesystem::absolute(disc).string();
        }
        ::setenv("VELK_VIRTUAL_DISCS", discs.c_str(), 1);
        std::string library = virtualRecorderLibrary();
        result = engine.Initialise(1, library.c_str(), 0, trace);
        if (!result) {
            std::fprintf(stderr, "velk-cli: %s: the virtual recorder (%s) cannot be used\n", what, library.c_str());
            return false;
        }
        // The recorder's clock may run faster than the wall clock; the jobs'
        // ready waits then poll as often in the recorder's own time.
        if (const char* scale = std::getenv("VELK_VIRTUAL_TIME_SCALE"); scale && *scale) {
            double value = std::strtod(scale, nullptr);
            if (value > 0) engine.device().pollTimeScale = value;
        }
    } else {
        result = trace ? engine.Initialise(0, nullptr, 0, trace) : 1;
        if (!result) {
            std::fprintf(stderr, "velk-cli: %s: %s: cannot open the trace log\n", what, trace);
            return false;
        }
    }
    if (engine.GetDeviceCount() == 0) {
        std::fprintf(stderr, "velk-cli: %s: no recorder found\n", what);
        return false;
    }
    return true;
}

bool openRecorder(BurnEngine& engine, const RecorderOptions& options, const char* what) {
    if (!listRecorders(engine, options, what)) return false;
    RecorderDevice& device = engine.device();
    const std::string& wanted = options.device;
    int count = engine.GetDeviceCount();
    int index = -1;
    if (wanted.empty()) {
        index = 0;
    } else if (wanted.find_first_not_of("0123456789") == std::string::npos) {
        index = std::atoi(wanted.c_str());
    } else if (wanted.size() == 1 || (wanted.size() == 2 && wanted[1] == ':')) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(wanted[0])));
        for (int i = 0; i < count && index < 0; ++i) {
            if (device.entries[i].letter == letter) index = i;
        }
    } else {
        std::error_code error;
        std::filesystem::path path = std::filesystem::weakly_canonical(wanted, error);
        for (int i = 0; i < count && index < 0; ++i) {
            if (device.entries[i].devicePath[0] == 0) continue;
            std::filesystem::path node = std::filesystem::weakly_canonical(device.entries[i].devicePath, error);
            if (node == path) index = i;
        }
    }
    if (index < 0 || index >= count) {
        std::fprintf(stderr, "velk-cli: %s: no recorder %s\n", what, wanted.c_str());
        return false;
    }
    if (!engine.SelectByIndex(index)) {
        std::fprintf(stderr, "velk-cli: %s: recorder %d does not answer: %s\n", what, index,
                     engine.GetLastErrorText());
        return false;
    }
    // A disc loaded a moment ago is not yet "no disc": the drive is given
    // the time it says it needs.
    (void)jobs::waitWhileBecomingReady(device);
    return true;
}

const char* discTypeName(int type) { return mediumOf(type).name; }

bool isCdMedium(int type) { return mediumOf(type).cdLike(); }

}  // namespace velk::cli
