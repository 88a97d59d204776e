#include "cli/BurnCommands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "cli/BurnSummary.h"
#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "cli/SessionCommands.h"
#include "engine/api/ErrorTexts.h"
#include "engine/core/Media.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderDevice.h"
#include "platform/Terminal.h"
#include "virtual-recorder/DiscStore.h"

namespace velk::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double MB = 1024.0 * 1024.0;
constexpr double BlockBytes = 2048.0;
constexpr auto PollPeriod = std::chrono::milliseconds(100);
// User data per second at 1x: 75 sectors of 2048 bytes on CD, 1385 kB on DVD.
constexpr double CdOneX = 75.0 * 2048.0;
constexpr double DvdOneX = 1385000.0;
// What SET CD SPEED takes for 1x, in kB/s: CD counts whole 2352-byte frames.
constexpr double CdOneXKbps = 176.4;
constexpr double DvdOneXKbps = 1385.0;
// Blocks a burn from an image file writes are whole 64 KiB chunks.
constexpr std::uint64_t ChunkBlocks = 32;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string clockText(double seconds) {
    long whole = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

int percentOf(double part, double whole) {
    if (whole <= 0) return 0;
    return static_cast<int>(std::clamp(part * 100.0 / whole, 0.0, 100.0));
}

// Prints "velk-cli: WHAT: " and the formatted reason on its own line.
__attribute__((format(printf, 2, 3))) void refuse(const char* what, const char* format, ...) {
    std::fprintf(stderr, "velk-cli: %s: ", what);
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

// Forgets the codes that the queries before a job latched, so that a failure
// of the job is reported with its own reason.
void forgetEarlierErrors(BurnEngine& engine) {
    while (engine.GetLastErrorCode() != ErrNone) {
    }
}

// The engine's reason for the failed job, or a plain one when it has none,
// with the system's reason when a file operation failed.
std::string failureText(BurnEngine& engine, const char* fallback) {
    int code = engine.GetLastErrorCode();
    std::string text = code == ErrNone ? fallback : formatErrorText(code, engine.project(), engine.device());
    if (engine.GetLastSystemError() != 0) text += std::string(": ") + engine.GetLastSystemErrorText();
    return text;
}

// Disc status of READ DISC INFORMATION: 0 blank, 1 appendable, 2 complete;
// nullopt when the recorder does not say.
std::optional<int> discStatus(BurnEngine& engine) {
    RecorderDevice& device = engine.device();
    std::uint8_t info[DiscInfoBytes] = {};
    if (!mmc::ReadDiscInformation(device, info, sizeof info) || mmc::responseBytes(device, sizeof info) < 3) {
        return std::nullopt;
    }
    return info[2] & 0x03;
}

// The inserted disc's type when it can be written; prints why not otherwise.
std::optional<int> writableDisc(BurnEngine& engine, const char* what) {
    int type = engine.GetDiscType();
    if (type == DiscNone) {
        refuse(what, "no disc in the recorder");
        return std::nullopt;
    }
    if (!engine.IsDiscWritable()) {
        if (mediumOf(type).readOnly()) {
            refuse(what, "the disc is a %s, which is read-only", discTypeName(type));
        } else {
            refuse(what, "the %s in the recorder is finalised and cannot be written", discTypeName(type));
        }
        return std::nullopt;
    }
    return type;
}

// A test write on a medium without one would be a real write: DVD+R has no
// simulation mode, and overwritable media ignore the test-write bit.
bool testWritePossible(BurnEngine& engine, int type, const char* what) {
    if (!mediumOf(type).testWrite) {
        refuse(what, "a %s cannot be test-written (the recorder would write it for real)", discTypeName(type));
        return false;
    }
    if (!engine.QueryCapability(21)) {
        refuse(what, "the recorder cannot do a test write");
        return false;
    }
    return true;
}

// --speed N is a multiple of the medium's 1x; SET CD SPEED takes kB/s.
void applySpeed(BurnEngine& engine, int type, int times) {
    if (times <= 0) return;
    double kbps = std::round(times * (isCdMedium(type) ? CdOneXKbps : DvdOneXKbps));
    (void)engine.SetSpeeds(0, static_cast<std::uint16_t>(std::min(kbps, 65535.0)));
}

// The summary as --json prints it; `medium` is the disc type burned.
void printBurnJson(const char* what, int medium, const BurnSummary& summary) {
    JsonWriter json;
    json.beginObject().field("command", what).field("test", summary.testWrite);
    json.field("medium", discTypeName(medium)).field("blocks", summary.blocks);
    json.field("bytes", static_cast<unsigned long long>(summary.blocks) * 2048ULL);
    json.field("seconds", summary.totalSeconds, 3).field("writing_seconds", summary.writingSeconds, 3);
    json.field("mb_per_second", summary.writingRate, 3).field("times_speed", summary.timesOneX, 2);
    json.field("lowest_ring_buffer_percent", summary.lowestRingFill);
    json.field("lowest_drive_buffer_percent", summary.lowestDriveFill);
    json.field("underruns", summary.underruns);
    json.field("verified_blocks", summary.verifiedBlocks).endObject();
    printJson(json);
}

// Progress of a running burn, and what the summary reports about it. The
// progress line goes to `progress` (stderr when stdout carries --json).
class BurnWatch {
public:
    BurnWatch(BurnEngine& engine, bool drawLine, std::FILE* progress = stdout)
        : engine_(engine), drawLine_(drawLine), progress_(progress) {}

    // The set-up (which may format the disc) is over and the writer runs.
    void writerStarted() { writingStart_ = secondsSince(start_); }

    void sample() {
        double now = secondsSince(start_);
        int state = engine_.GetJobState();
        if (state == JobClosing || state == JobAborted || state == JobWriteFailed) {
            if (!writingEnd_) writingEnd_ = now;
        }
        double image = engine_.GetImageBlocks();
        double written = static_cast<unsigned>(engine_.GetBlocksWritten());
        int ringSize = engine_.GetBufferSize();
        double ringFill = engine_.GetBufferFill();
        int ring = percentOf(ringFill, ringSize);
        int driveSize = engine_.GetDriveBufferSize();
        int drive = percentOf(static_cast<unsigned>(engine_.GetDriveBufferUsed()), driveSize);
        if (state == JobWriting && written > 0) {
            // The ring drains once the producer has queued the last chunk, and
            // the drive's buffer fills from empty at the start: neither is a
            // risk of running dry, so only the steady part of the burn counts.
            // The writer holds a chunk or two that neither count shows.
            bool producing = written + ringFill / BlockBytes + 2 * ChunkBlocks < image;
            if (producing) lowestRing_ = std::min(lowestRing_.value_or(100), ring);
            if (driveSize > 0 && drive >= 50) driveFilled_ = true;
            if (driveSize > 0 && driveFilled_) lowestDrive_ = std::min(lowestDrive_.value_or(100), drive);
        }
        if (!drawLine_) return;
        double writing = writingEnd_.value_or(now) - writingStart_;
        double rate = writing > 0 ? written * BlockBytes / MB / writing : 0.0;
        const char* phase = state == JobIdle && (written > 0 || writingEnd_) ? "done" : phaseName(state);
        std::fprintf(progress_, "\r%-8s %8.1f MB of %.1f MB  %3d%%  %6.1f MB/s  buffer %3d%%  drive %3d%%  ", phase,
                     written * BlockBytes / MB, image * BlockBytes / MB, percentOf(written, image), rate, ring, drive);
        std::fflush(progress_);
        lineOpen_ = true;
    }

    // Ends the progress line so that a message can follow on its own line.
    void breakLine() {
        if (lineOpen_) std::fputc('\n', progress_);
        lineOpen_ = false;
    }

    // The virtual recorder keeps its underrun count in the disc file: the
    // count before the burn, so that the summary gives this burn's own.
    void countUnderrunsOf(const std::string& discFile) {
        discFile_ = discFile;
        underrunsBefore_ = underrunsOnDisc();
    }

    BurnSummary summary(bool test, int type, bool verified) {
        BurnSummary summary;
        summary.testWrite = test;
        summary.totalSeconds = secondsSince(start_);
        summary.writingSeconds = writingEnd_.value_or(summary.totalSeconds) - writingStart_;
        summary.blocks = static_cast<std::uint32_t>(engine_.GetImageBlocks());
        const double bytes = summary.blocks * BlockBytes;
        const double rate = summary.writingSeconds > 0 ? bytes / summary.writingSeconds : 0.0;
        summary.megabytes = bytes / MB;
        summary.writingRate = rate / MB;
        summary.timesOneX = rate / (isCdMedium(type) ? CdOneX : DvdOneX);
        summary.lowestRingFill = lowestRing_;
        summary.lowestDriveFill = lowestDrive_;
        // A test write records nothing, its underruns included.
        const std::optional<std::uint32_t> after = test ? std::nullopt : underrunsOnDisc();
        if (underrunsBefore_ && after && *after >= *underrunsBefore_) summary.underruns = *after - *underrunsBefore_;
        if (verified) summary.verifiedBlocks = static_cast<std::uint32_t>(engine_.GetBlocksVerified());
        return summary;
    }

    void printSummary(bool test, int type, bool verified) {
        std::fputs(burnSummaryText(summary(test, type, verified)).c_str(), stdout);
    }

private:
    static const char* phaseName(int state) {
        switch (state) {
        case JobWriting: return "writing";
        case JobClosing: return "closing";
        case JobAborted: return "stopping";
        case JobWriteFailed: return "failed";
        case JobVerifying: return "verifying";
        default: return "starting";
        }
    }

    std::optional<std::uint32_t> underrunsOnDisc() const {
        if (discFile_.empty()) return std::nullopt;
        std::string unused;
        auto disc = vrec::DiscStore::open(discFile_, &unused);
        if (!disc) return std::nullopt;
        return disc->layout().underruns;
    }

    BurnEngine& engine_;
    bool drawLine_;
    std::string discFile_;
    std::optional<std::uint32_t> underrunsBefore_;
    std::FILE* progress_;
    Clock::time_point start_ = Clock::now();
    double writingStart_ = 0;
    std::optional<double> writingEnd_;
    std::optional<int> lowestRing_;
    std::optional<int> lowestDrive_;
    bool driveFilled_ = false;
    bool lineOpen_ = false;
};

// Waits for a started burn, turning the first Ctrl-C into one Abort, and
// prints the summary or the failure.
int watchBurn(BurnEngine& engine, JobEnd& end, BurnWatch& watch, const char* what, bool test, int type,
              bool json) {
    const bool verifying = engine.GetVerify() != 0 && !test;
    watch.writerStarted();
    int seen = 0;
    bool abortWanted = false;
    bool aborted = false;
    while (!end.waitFor(PollPeriod)) {
        int count = interruptCount();
        if (count > seen) {
            seen = count;
            watch.breakLine();
            if (!abortWanted) {
                std::fprintf(stderr, "velk-cli: %s: stopping; the disc is closed with what was written\n", what);
            } else {
                std::fprintf(stderr, "velk-cli: %s: still closing the disc, please wait\n", what);
            }
            abortWanted = true;
        }
        // Abort only takes hold once the writer runs (a Ctrl-C during the
        // set-up is kept for then), and it is called once.
        if (abortWanted && !aborted && engine.GetJobState() != JobIdle) {
            engine.Abort();
            aborted = true;
        }
        watch.sample();
    }
    watch.sample();
    watch.breakLine();
    warnGrownFiles(engine, what);
    if (end.failed()) {
        std::fprintf(stderr, "velk-cli: %s: %s\n", what, failureText(engine, "the burn failed").c_str());
        return ExitFailed;
    }
    if (json) {
        printBurnJson(what, type, watch.summary(test, type, verifying));
        return ExitOk;
    }
    watch.printSummary(test, type, verifying);
    return ExitOk;
}

// Waits for an erase or a close, showing the phase and the elapsed time.
// Neither can be stopped halfway, so Ctrl-C only gets an answer.
int watchPhases(BurnEngine& engine, JobEnd& end, const char* what, bool drawLine, const char* fallbackPhase) {
    Clock::time_point start = Clock::now();
    int seen = 0;
    bool lineOpen = false;
    while (!end.waitFor(PollPeriod)) {
        int count = interruptCount();
        if (count > seen) {
            seen = count;
            if (lineOpen) std::fputc('\n', stdout);
            lineOpen = false;
            std::fprintf(stderr, "velk-cli: %s: the recorder must finish this, please wait\n", what);
        }
        if (drawLine) {
            const char* phase = fallbackPhase;
            switch (engine.GetJobState()) {
            case JobErasing: phase = "erasing"; break;
            case JobFormatting: phase = "formatting"; break;
            case JobClosing: phase = "closing"; break;
            default: break;
            }
            std::fprintf(stdout, "\r%-10s %s  ", phase, clockText(secondsSince(start)).c_str());
            std::fflush(stdout);
            lineOpen = true;
        }
    }
    if (lineOpen) std::fputc('\n', stdout);
    return end.failed() ? ExitFailed : ExitOk;
}

// With --virtual the recorder is the drive of one of the disc files, in the
// order they were given; a real drive's count is not known.
void countVirtualUnderruns(BurnEngine& engine, const RecorderOptions& recorder, BurnWatch& watch) {
    const std::size_t index = engine.device().selectedIndex;
    if (index < recorder.virtualDiscs.size()) watch.countUnderrunsOf(recorder.virtualDiscs[index]);
}

struct WriteOptions {
    RecorderOptions recorder;
    int speed = 0;
    bool test = false;
    bool close = false;
    bool noUnderrunProtection = false;
    bool verify = false;
    bool quiet = false;
    bool json = false;
};

// Where the progress line and the lines around the summary go: stdout, or
// stderr when stdout carries the --json object alone.
std::FILE* messageStream(const WriteOptions& options) { return options.json ? stderr : stdout; }

void addWriteOptions(CLI::App* command, WriteOptions& options) {
    addRecorderOptions(command, options.recorder, true);
    command->add_option("--speed", options.speed, "Write speed as a multiple of the medium's 1x (0: the maximum)")
        ->check(CLI::NonNegativeNumber);
    command->add_flag("--test", options.test, "Test write: the recorder goes through the burn but records nothing");
    command->add_flag("--close", options.close, "Finalise the disc (default: leave it open for another session)");
    command->add_flag("--verify", options.verify,
                      "Read every written block back from the disc and compare it with what was sent");
    command->add_flag("-q,--quiet", options.quiet, "No progress line");
    addJsonFlag(command, options.json);
}

void applySwitches(BurnEngine& engine, const WriteOptions& options) {
    engine.SetTestWrite(options.test ? 1 : 0);
    engine.SetCloseDisc(options.close ? 1 : 0);
    engine.SetUnderrunProtection(options.noUnderrunProtection ? 0 : 1);
}

struct BurnOptions {
    WriteOptions write;
    ProjectOptions project;
    bool noImport = false;
};

int runBurn(const BurnOptions& options) {
    constexpr const char* what = "burn";
    BurnEngine engine;
    if (!openRecorder(engine, options.write.recorder, what)) return ExitFailed;
    std::optional<int> type = writableDisc(engine, what);
    if (!type) return ExitFailed;
    if (options.write.test && !testWritePossible(engine, *type, what)) return ExitFailed;
    applySwitches(engine, options.write);

    // A virtual disc file among the sources would be read while it is
    // written: it stays off the disc.
    for (const std::string& disc : options.write.recorder.virtualDiscs) {
        excludeFromTree(engine, disc, "it is the virtual disc being written");
        excludeFromTree(engine, disc + ".data", "it is the virtual disc being written");
    }
    // A disc that holds a session gets a new one that repeats its tree, so
    // readers see the old files beside the new ones.
    startProject(engine, options.project);
    AppendImport import = importForAppend(engine, options.noImport, messageStream(options.write));
    int blocks = addProjectContent(engine, options.project);
    if (blocks <= 0) return ExitFailed;
    (void)printReplacedFiles(import, messageStream(options.write));
    engine.SetVerify(options.write.verify ? 1 : 0);
    auto freeBlocks = static_cast<unsigned>(engine.GetFreeBlocks());
    if (static_cast<unsigned>(blocks) > freeBlocks) {
        refuse(what, "the image needs %d blocks but the disc has only %u free blocks", blocks, freeBlocks);
        return ExitFailed;
    }
    applySpeed(engine, *type, options.write.speed);

    InterruptCatcher catcher;
    JobEnd end;
    std::FILE* progress = messageStream(options.write);
    BurnWatch watch(engine, !options.write.quiet && platform::isTerminal(progress), progress);
    countVirtualUnderruns(engine, options.write.recorder, watch);
    forgetEarlierErrors(engine);
    if (!engine.StartBurn(JobEnd::callback, &end)) {
        std::fprintf(stderr, "velk-cli: %s: %s\n", what, failureText(engine, "the burn could not be started").c_str());
        return ExitFailed;
    }
    return watchBurn(engine, end, watch, what, options.write.test, *type, options.write.json);
}

struct BurnImageOptions {
    WriteOptions write;
    std::string image;
};

int runBurnImage(const BurnImageOptions& options) {
    constexpr const char* what = "burn-image";
    std::error_code error;
    std::uintmax_t bytes = std::filesystem::file_size(options.image, error);
    if (error) {
        refuse(what, "%s: %s", options.image.c_str(), error.message().c_str());
        return ExitFailed;
    }
    if (bytes == 0) {
        refuse(what, "%s: the image file is empty", options.image.c_str());
        return ExitFailed;
    }
    std::uint64_t blocks = (bytes + 2047) / 2048;
    blocks = (blocks + ChunkBlocks - 1) / ChunkBlocks * ChunkBlocks;

    BurnEngine engine;
    if (!openRecorder(engine, options.write.recorder, what)) return ExitFailed;
    std::optional<int> type = writableDisc(engine, what);
    if (!type) return ExitFailed;
    if (options.write.test && !testWritePossible(engine, *type, what)) return ExitFailed;
    // An image holds its volume from block 0 on: a sequential disc must be
    // blank for it, an overwritable one is written over from its start.
    if (!mediumOf(*type).overwritable() && discStatus(engine).value_or(0) != 0) {
        refuse(what, "the %s in the recorder is not blank; an image file is written from block 0",
               discTypeName(*type));
        return ExitFailed;
    }
    applySwitches(engine, options.write);
    auto room = static_cast<unsigned>(mediumOf(*type).overwritable() ? engine.GetDiscCapacity() : engine.GetFreeBlocks());
    if (blocks > room) {
        refuse(what, "%s needs %llu blocks but the disc has only %u free blocks", options.image.c_str(),
               static_cast<unsigned long long>(blocks), room);
        return ExitFailed;
    }
    applySpeed(engine, *type, options.write.speed);
    engine.SetVerify(options.write.verify ? 1 : 0);

    InterruptCatcher catcher;
    JobEnd end;
    std::FILE* progress = messageStream(options.write);
    BurnWatch watch(engine, !options.write.quiet && platform::isTerminal(progress), progress);
    countVirtualUnderruns(engine, options.write.recorder, watch);
    forgetEarlierErrors(engine);
    if (!engine.StartBurnFromImage(options.image.c_str(), JobEnd::callback, &end)) {
        std::fprintf(stderr, "velk-cli: %s: %s\n", what, failureText(engine, "the burn could not be started").c_str());
        return ExitFailed;
    }
    return watchBurn(engine, end, watch, what, options.write.test, *type, options.write.json);
}

struct EraseOptions {
    RecorderOptions recorder;
    bool full = false;
};

int runErase(const EraseOptions& options) {
    constexpr const char* what = "erase";
    BurnEngine engine;
    if (!openRecorder(engine, options.recorder, what)) return ExitFailed;
    int type = engine.GetDiscType();
    if (type == DiscNone) {
        refuse(what, "no disc in the recorder");
        return ExitFailed;
    }
    if (!engine.CanErase()) {
        refuse(what, "a %s cannot be erased (%s)", discTypeName(type), mediumOf(type).readOnly() ? "read-only" : "write-once");
        return ExitFailed;
    }

    InterruptCatcher catcher;
    JobEnd end;
    Clock::time_point start = Clock::now();
    forgetEarlierErrors(engine);
    if (!engine.StartErase(options.full ? 0 : 1, JobEnd::callback, &end)) {
        refuse(what, "%s", failureText(engine, "the erase could not be started").c_str());
        return ExitFailed;
    }
    if (watchPhases(engine, end, what, platform::isTerminal(stdout), "erasing") != ExitOk) {
        refuse(what, "%s", failureText(engine, "the recorder could not erase the disc").c_str());
        return ExitFailed;
    }
    std::printf("erased the %s (%s) in %.1f s\n", discTypeName(type), options.full ? "full" : "quick",
                secondsSince(start));
    return ExitOk;
}

int runClose(const RecorderOptions& options) {
    constexpr const char* what = "close";
    BurnEngine engine;
    if (!openRecorder(engine, options, what)) return ExitFailed;
    std::optional<int> type = writableDisc(engine, what);
    if (!type) return ExitFailed;
    if (!mediumOf(*type).overwritable() && discStatus(engine).value_or(1) == 0) {
        refuse(what, "the %s in the recorder is blank; there is nothing to close", discTypeName(*type));
        return ExitFailed;
    }
    // The job still plans and starts like a burn; an empty project is the
    // least it can carry, and close-only mode writes none of it.
    engine.ResetProject();
    if (engine.PrepareImage() <= 0) {
        refuse(what, "planning failed: %s", engine.GetLastErrorText());
        return ExitFailed;
    }
    engine.SetCloseOnly();

    InterruptCatcher catcher;
    JobEnd end;
    Clock::time_point start = Clock::now();
    forgetEarlierErrors(engine);
    if (!engine.StartBurn(JobEnd::callback, &end)) {
        refuse(what, "%s", failureText(engine, "the close could not be started").c_str());
        return ExitFailed;
    }
    if (watchPhases(engine, end, what, platform::isTerminal(stdout), "closing") != ExitOk) {
        refuse(what, "%s", failureText(engine, "the recorder could not close the disc").c_str());
        return ExitFailed;
    }
    std::printf("closed the %s in %.1f s\n", discTypeName(*type), secondsSince(start));
    return ExitOk;
}

template <typename Options, typename Run>
void onRun(CLI::App* command, std::shared_ptr<Options> options, Run run) {
    command->callback([options, run] {
        int code = run(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace

void addBurnCommands(CLI::App& app) {
    auto burn = std::make_shared<BurnOptions>();
    CLI::App* burnCommand = app.add_subcommand("burn", "Burn files and folders to the disc in a recorder");
    addWriteOptions(burnCommand, burn->write);
    burnCommand->add_flag("--no-underrun-protection", burn->write.noUnderrunProtection,
                          "Switch the recorder's buffer-underrun protection off");
    burnCommand->add_flag("--no-import", burn->noImport,
                          "Start a fresh tree: the files already on the disc will no longer be visible");
    addProjectOptions(burnCommand, burn->project);
    onRun(burnCommand, burn, runBurn);

    auto image = std::make_shared<BurnImageOptions>();
    CLI::App* imageCommand = app.add_subcommand("burn-image", "Burn an image file to the disc in a recorder");
    imageCommand->add_option("IMAGE", image->image, "Image file: 2048-byte blocks from block 0")->required();
    addWriteOptions(imageCommand, image->write);
    onRun(imageCommand, image, runBurnImage);

    auto erase = std::make_shared<EraseOptions>();
    CLI::App* eraseCommand = app.add_subcommand("erase", "Erase a rewritable disc (quick unless --full)");
    eraseCommand->add_flag("--full", erase->full, "Erase the whole disc, not only its start");
    addRecorderOptions(eraseCommand, erase->recorder, true);
    onRun(eraseCommand, erase, runErase);

    auto close = std::make_shared<RecorderOptions>();
    CLI::App* closeCommand = app.add_subcommand("close", "Close the open track and session of the disc");
    addRecorderOptions(closeCommand, *close, true);
    onRun(closeCommand, close, runClose);
}

}  // namespace velk::cli
