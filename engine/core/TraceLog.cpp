#include "engine/core/TraceLog.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace velk::trace {
namespace {

// The version text begins with the version number and ends with "(Date: ";
// the build date and ")" follow it.
constexpr const char* EngineVersion = "1.21 velk engine (Date: ";
constexpr const char* BuildDate = "Nov 11 2005";

std::mutex logMutex;
std::FILE* logFile = nullptr;

void closeLocked() {
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}

}  // namespace

const char* versionText() {
    static const std::string text = std::string(EngineVersion) + BuildDate + ")";
    return text.c_str();
}

bool open(const std::string& path) {
    std::lock_guard<std::mutex> lock(logMutex);
    closeLocked();
    logFile = std::fopen(path.c_str(), "w");
    if (!logFile) return false;
    std::fprintf(logFile, "Version : %s%s) \n", EngineVersion, BuildDate);
    return true;
}

std::string defaultPath() {
    std::filesystem::path base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".local" / "state";
    } else {
        base = std::filesystem::temp_directory_path();
    }
    std::filesystem::path folder = base / "velk";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return (folder / "velk.elg").string();
}

bool close() {
    std::lock_guard<std::mutex> lock(logMutex);
    bool wasOpen = logFile != nullptr;
    closeLocked();
    return wasOpen;
}

bool isOpen() {
    std::lock_guard<std::mutex> lock(logMutex);
    return logFile != nullptr;
}

void write(const char* format, ...) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (!logFile) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(logFile, format, args);
    va_end(args);
}

}  // namespace velk::trace
