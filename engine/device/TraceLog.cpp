#include "engine/device/TraceLog.h"

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

std::string formatCommandLine(const ScsiRequestBlock& request, const char* opcodeName,
                              const platform::SystemTime& now, bool passThrough,
                              std::uint32_t lastOsError) {
    std::string line;
    char field[160];
    auto address = reinterpret_cast<std::intptr_t>(request.dataBuffer);
    if (address % 4 != 0) {
        std::snprintf(field, sizeof field, "---> %lld ", static_cast<long long>(address));
        line += field;
    }
    std::snprintf(field, sizeof field, "%02d:%02d:%03d %s (%02x) {%02x:%02x} - %01x:%01x:%01x <%02x> [%05x] ",
                  now.minute, now.second, now.millisecond, opcodeName ? opcodeName : "",
                  request.cdb[0], request.flags, request.cdbLength, request.adapter,
                  request.target, request.lun, request.status, request.dataLength);
    line += field;
    for (int i = 1; i < 16; ++i) {
        std::snprintf(field, sizeof field, "%02x ", request.cdb[i]);
        line += field;
    }
    line += "| ";
    if (request.dataBuffer) {
        std::size_t count = request.dataLength < TracedDataBytes ? request.dataLength : TracedDataBytes;
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(field, sizeof field, "%02x ", request.dataBuffer[i]);
            line += field;
        }
    }
    std::snprintf(field, sizeof field, "%02x:%02x", request.sense[12], request.sense[13]);
    line += field;
    if (passThrough) {
        std::snprintf(field, sizeof field, ", %d", static_cast<int>(lastOsError));
        line += field;
    }
    line += "\n";
    return line;
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
