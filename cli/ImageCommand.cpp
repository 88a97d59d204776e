#include "cli/ImageCommand.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "platform/Terminal.h"

namespace velk::cli {
namespace {

struct ImageOptions {
    std::string output;
    std::string label;
    std::string boot;
    bool noJoliet = false;
    bool noUdf = false;
    bool longNames = false;
    bool keepPath = false;
    bool quiet = false;
    int bufferSize = 0;
    std::vector<std::string> paths;
};

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

constexpr double MB = 1024.0 * 1024.0;

void drawProgress(BurnEngine& engine, std::chrono::steady_clock::time_point start) {
    double total = engine.GetImageBlocks() * 2048.0;
    double written = static_cast<double>(static_cast<unsigned>(engine.GetBlocksWritten())) * 2048.0;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int percent = total > 0 ? static_cast<int>(written * 100.0 / total) : 0;
    double rate = seconds > 0 ? written / MB / seconds : 0.0;
    int size = engine.GetBufferSize();
    int fill = size > 0 ? static_cast<int>(100.0 * engine.GetBufferFill() / size) : 0;
    std::fprintf(stdout, "\r%8.1f MB of %.1f MB  %3d%%  %7.1f MB/s  buffer %3d%%  ", written / MB,
                 total / MB, percent, rate, fill);
    std::fflush(stdout);
}

int runImage(const ImageOptions& options) {
    BurnEngine engine;
    engine.ResetProjectEx(options.longNames ? 1 : 0, 0);
    if (!options.label.empty()) engine.SetVolumeLabel(options.label.c_str());
    engine.SetJoliet(options.noJoliet ? 0 : 1);
    engine.SetUdfBridge(options.noUdf ? 0 : 1);
    if (options.bufferSize > 0) engine.SetBufferSize(options.bufferSize);
    if (!addSourcePaths(engine, options.paths, options.keepPath)) return ExitFailed;
    if (!options.boot.empty() && !engine.SetBootImage(options.boot.c_str())) {
        std::fprintf(stderr,
                     "velk-cli: %s: cannot be used as a boot image (a 2048-byte loader or a 1.2, 1.44 "
                     "or 2.88 MB floppy image)\n",
                     options.boot.c_str());
        return ExitFailed;
    }
    int blocks = engine.PrepareImage();
    if (blocks <= 0) {
        std::fprintf(stderr, "velk-cli: planning failed: %s\n", engine.GetLastErrorText());
        return ExitFailed;
    }

    JobEnd end;
    auto start = std::chrono::steady_clock::now();
    if (!engine.StartWriteImage(options.output.c_str(), JobEnd::callback, &end)) {
        std::fprintf(stderr, "velk-cli: %s\n", engine.GetLastErrorText());
        return ExitFailed;
    }
    bool progress = !options.quiet && platform::isTerminal(stdout);
    while (!end.waitFor(std::chrono::milliseconds(250))) {
        if (progress) drawProgress(engine, start);
    }
    if (progress) {
        drawProgress(engine, start);
        std::fputc('\n', stdout);
    }
    if (end.failed()) {
        std::fprintf(stderr, "velk-cli: %s\n", engine.GetLastErrorText());
        return ExitFailed;
    }
    if (!options.quiet) {
        std::printf("%s: %d blocks (%.1f MB), %d files in %d folders\n", options.output.c_str(),
                    engine.GetImageBlocks(), engine.GetImageBlocks() * 2048.0 / MB,
                    engine.GetFileCount() - (engine.GetDirectoryCount() - 1),
                    engine.GetDirectoryCount());
    }
    return ExitOk;
}

}  // namespace

void addImageCommand(CLI::App& app) {
    auto options = std::make_shared<ImageOptions>();
    CLI::App* command = app.add_subcommand("image", "Write the disc image of files and folders to a file");
    command->add_option("-o,--output", options->output, "Image file to write")->required();
    command->add_option("--label", options->label, "Volume label (up to 32 characters)");
    command->add_flag("--no-joliet", options->noJoliet, "Leave out the Joliet tree");
    command->add_flag("--no-udf", options->noUdf, "Leave out the UDF bridge");
    command->add_option("--boot", options->boot, "El Torito boot image (loader or floppy image)");
    command->add_flag("--long-names", options->longNames, "ISO names are the long names (up to 98 characters)");
    command->add_flag("--keep-path", options->keepPath, "Keep each folder's source path as folders in the image");
    command->add_option("--buffer-size", options->bufferSize, "Ring buffer size in bytes")
        ->check(CLI::PositiveNumber);
    command->add_flag("-q,--quiet", options->quiet, "No progress line and no summary");
    command->add_option("PATH", options->paths, "Files and folders to put on the disc")->required();
    command->callback([options] {
        int code = runImage(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace velk::cli
