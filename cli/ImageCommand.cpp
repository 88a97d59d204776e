#include "cli/ImageCommand.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "platform/Files.h"
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

// "velk-cli: image: " and the engine's reason, with the system's.
void printFailure(BurnEngine& engine) {
    std::string text = engine.GetLastErrorText();
    if (engine.GetLastSystemError() != 0) text += std::string(": ") + engine.GetLastSystemErrorText();
    std::fprintf(stderr, "velk-cli: image: %s\n", text.c_str());
}

int runImage(const ImageOptions& options) {
    // The output must never be one of the files it is made from.
    for (const std::string& path : options.project.paths) {
        if (platform::pathKind(path) == platform::PathKind::Regular && platform::sameFile(path, options.output)) {
            std::fprintf(stderr, "velk-cli: image: %s: the output is one of the sources\n", options.output.c_str());
            return ExitFailed;
        }
    }
    BurnEngine engine;
    // An image written into a folder it is made from must not take its own
    // old copy along (a second run of "image -o img.iso ."): the file there
    // now is left out, found by what it is, not by its name. Its temporary
    // file does not exist before the tree is complete, so it cannot be met.
    excludeFromTree(engine, options.output == "-" ? "/dev/stdout" : options.output,
                    "it is the image being written");
    if (buildProject(engine, options.project) <= 0) return ExitFailed;

    InterruptCatcher catcher;
    JobEnd end;
    auto start = std::chrono::steady_clock::now();
    // "-" is standard output: written directly, and the messages go to stderr.
    const bool toStdout = options.output == "-";
    const std::string output = toStdout ? "/dev/stdout" : options.output;
    if (!engine.StartWriteImage(output.c_str(), JobEnd::callback, &end)) {
        printFailure(engine);
        return ExitFailed;
    }
    bool progress = !options.quiet && !toStdout && platform::isTerminal(stdout);
    bool aborted = false;
    while (!end.waitFor(std::chrono::milliseconds(250))) {
        // Ctrl-C stops the job, which removes its partial file.
        if (interruptCount() > 0 && !aborted && engine.GetJobState() != JobIdle) {
            engine.Abort();
            aborted = true;
        }
        if (progress) drawProgress(engine, start);
    }
    if (progress) {
        drawProgress(engine, start);
        std::fputc('\n', stdout);
    }
    warnGrownFiles(engine, "image");
    if (end.failed()) {
        printFailure(engine);
        return ExitFailed;
    }
    if (!options.quiet) {
        std::fprintf(toStdout ? stderr : stdout, "%s: %d blocks (%.1f MB), %d files in %d folders\n",
                     options.output.c_str(), engine.GetImageBlocks(), engine.GetImageBlocks() * 2048.0 / MB,
                     engine.GetFileCount() - (engine.GetDirectoryCount() - 1), engine.GetDirectoryCount());
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
