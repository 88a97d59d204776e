#include "cli/CliCommon.h"

#include <filesystem>
#include <iostream>

namespace velk::cli {

bool addSourcePaths(BurnEngine& engine, const std::vector<std::string>& paths, bool keepPath) {
    for (const std::string& path : paths) {
        std::error_code error;
        bool folder = std::filesystem::is_directory(path, error);
        if (!folder && !std::filesystem::exists(path, error)) {
            std::cerr << "velk-cli: " << path << ": no such file or folder\n";
            return false;
        }
        ItemHandle added = folder ? engine.AddDirectory("\\", path.c_str(), "*.*", 1, keepPath ? 1 : 0)
                                  : engine.AddFile("\\", path.c_str());
        if (!added) {
            std::cerr << "velk-cli: " << path << ": " << engine.GetLastErrorText() << "\n";
            return false;
        }
    }
    return true;
}

}  // namespace velk::cli
