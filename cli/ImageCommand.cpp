#include "cli/ImageCommand.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "platform/Terminal.h"

namespace velk::cli {
namespace {

struct ImageOptions {
    std::string output;
    bool quiet = false;
    ProjectOptions project;
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
    if (buildProject(engine, options.project) <= 0) return ExitFailed;

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
    addProjectOptions(command, options->project);
    command->add_flag("-q,--quiet", options->quiet, "No progress line and no summary");
    command->callback([options] {
        int code = runImage(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace velk::cli
