#include "app/EngineSetup.h"

#include <cstdlib>
#include <filesystem>

#include "engine/api/BurnEngine.h"
#include "engine/device/RecorderDevice.h"

namespace velk::app {
namespace {

constexpr const char* PluginFileName = "libvelk-vrec.so";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string VirtualRecorderLibrary() {
    std::string chosen = environment("VELK_VIRTUAL_RECORDER_LIBRARY");
    if (!chosen.empty()) return chosen;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path folder = program.parent_path();
        for (const std::filesystem::path& candidate :
             {folder / PluginFileName, folder.parent_path() / "virtual-recorder" / PluginFileName,
              folder.parent_path() / "lib" / PluginFileName}) {
            if (std::filesystem::exists(candidate, error)) return candidate.string();
        }
    }
    return PluginFileName;
}

bool AttachRecorders(BurnEngine& engine, std::string* message) {
    if (environment("VELK_VIRTUAL_DISCS").empty()) return true;
    const std::string library = VirtualRecorderLibrary();
    if (!engine.Initialise(1, library.c_str(), 0, nullptr)) {
        if (message) *message = "the virtual recorder (" + library + ") cannot be used";
        return false;
    }
    const double scale = std::atof(environment("VELK_VIRTUAL_TIME_SCALE").c_str());
    if (scale > 0) engine.device().pollTimeScale = scale;
    return true;
}

}  // namespace velk::app
