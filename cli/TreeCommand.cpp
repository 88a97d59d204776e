#include "cli/TreeCommand.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/SourceNotices.h"
#include "engine/image/ImageProject.h"
#include "engine/image/UdfFiles.h"
#include "platform/Text.h"

namespace velk::cli {
namespace {

void printFolder(const FolderNode& folder, int depth) {
    for (const FileItem* item = folder.firstChild; item; item = item->next) {
        std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
        std::string joliet = platform::toUtf8(item->jolietName);
        std::string udf = platform::toUtf8(image::udfIdentifierName(*item));
        std::string iso = item->isoName;
        platform::upperAsciiInPlace(iso);
        if (item->folder) {
            std::printf("%s%s/  [iso %s, joliet %s]\n", indent.c_str(), joliet.c_str(),
                        iso.c_str(), joliet.c_str());
            printFolder(*item->folder, depth + 1);
        } else if (udf != joliet) {
            std::printf("%s%s  [iso %s, joliet %s, udf %s, %llu bytes]\n", indent.c_str(),
                        joliet.c_str(), iso.c_str(), joliet.c_str(), udf.c_str(),
                        static_cast<unsigned long long>(item->size));
        } else {
            std::printf("%s%s  [iso %s, joliet %s, %llu bytes]\n", indent.c_str(), joliet.c_str(),
                        iso.c_str(), joliet.c_str(), static_cast<unsigned long long>(item->size));
        }
    }
}

}  // namespace

void addTreeCommand(CLI::App& app) {
    auto paths = std::make_shared<std::vector<std::string>>();
    auto longNames = std::make_shared<bool>(false);
    auto label = std::make_shared<std::string>();
    auto noFollowLinks = std::make_shared<bool>(false);
    auto keepPath = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand("tree", "Show the disc tree that files and folders would make");
    command->add_option("PATH", *paths, std::string("Files and folders to add; ") + PathsFollowLinksText)
        ->required();
    addFollowLinksFlag(command, *noFollowLinks);
    command->add_flag("--long-names", *longNames, "ISO names are the long names (up to 98 characters)");
    command->add_flag("--keep-path", *keepPath, "Keep each folder's source path as folders in the image");
    command->add_option("--label", *label,
                        "Volume label (default: the name of the one folder given, else the date)");
    command->callback([paths, longNames, label, noFollowLinks, keepPath] {
        BurnEngine engine;
        engine.ResetProjectEx(*longNames ? 1 : 0, 0);
        engine.project().followLinks = *noFollowLinks ? 0 : 1;
        // A FIFO or device named directly is left out (and said so below),
        // which is no failure. A failure's own lines are among the notices.
        const bool added = addSourcePaths(engine, *paths, *keepPath);
        printSourceNotices(engine, stderr);
        if (!added) throw CLI::RuntimeError(ExitFailed);
        const std::string volumeLabel = label->empty() ? defaultVolumeLabel(*paths) : *label;
        warnVolumeLabel(volumeLabel, stderr);
        engine.SetVolumeLabel(volumeLabel.c_str());
        const ImageProject& project = engine.project();
        std::printf("\\  [iso %s]  %d items, %d folders, label \"%s\"\n", project.root->isoName.c_str(),
                    engine.GetFileCount(), engine.GetDirectoryCount(), volumeLabel.c_str());
        printFolder(*project.root, 1);
    });
}

}  // namespace velk::cli
