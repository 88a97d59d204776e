#include "engine/api/ErrorTexts.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/Files.h"
#include "platform/Text.h"

namespace velk {
namespace {

constexpr const char* ProjectFullText = "Project is full (at most 200000 items and 65000 folders)";

// A command that never reached the drive, with what the host side said.
std::string transportFailureText(const RecorderDevice& device) {
    std::string text = "Transport failure: the command did not reach the recorder";
    char detail[64];
    if (device.transportHostStatus != 0) {
        std::snprintf(detail, sizeof detail, " (host adapter status %02Xh)", device.transportHostStatus);
        text += detail;
    } else if (device.transportOsError != 0) {
        text += " (" + platform::systemErrorText(static_cast<int>(device.transportOsError)) + ")";
    }
    return text;
}

template <typename Char, std::size_t N>
const Char* store(Char (&buffer)[N], const std::basic_string<Char>& text) {
    std::size_t length = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), length, buffer);
    buffer[length] = 0;
    return buffer;
}

}  // namespace

int takeLastErrorCode(ImageProject& project, RecorderDevice& device) {
    std::int32_t pending = project.pendingError.exchange(0);
    if (pending != 0) return pending;
    return device.lastErrorCode.exchange(0);
}

const char* formatErrorText(int code, const ImageProject& project, RecorderDevice& device) {
    // The file name goes through a 256-byte work buffer, cut at a character.
    std::string name = platform::toUtf8(project.errorFileName, 255);
    char text[512];
    switch (code) {
    case ErrNone: std::snprintf(text, sizeof text, "Unknown/No Error!"); break;
    case ErrNotPrepared: std::snprintf(text, sizeof text, "Data not prepared "); break;
    case ErrOpenFile: std::snprintf(text, sizeof text, "Error opening file \"%s\"", name.c_str()); break;
    case ErrCreateFile: std::snprintf(text, sizeof text, "Error creating file \"%s\"", name.c_str()); break;
    case ErrAborted: std::snprintf(text, sizeof text, "Aborted by user"); break;
    case ErrInvalidName: std::snprintf(text, sizeof text, "Invalid file name \"%s\"", name.c_str()); break;
    case ErrProjectFull: std::snprintf(text, sizeof text, "%s", ProjectFullText); break;
    case ErrOutOfMemory: std::snprintf(text, sizeof text, "Out of memory"); break;
    case ErrFileChanged: std::snprintf(text, sizeof text, "File changed while it was read \"%s\"", name.c_str()); break;
    case ErrVerifyFailed:
        std::snprintf(text, sizeof text, "Verification failed at block %d",
                      static_cast<int>(project.jobs.verifyFailedBlock));
        break;
    case ErrTransportFailure: std::snprintf(text, sizeof text, "%s", transportFailureText(device).c_str()); break;
    default: std::snprintf(text, sizeof text, "Hardware Error %d", code); break;
    }
    // Cut at a character boundary so the buffer never ends in half a character.
    std::string cut = platform::toUtf8(platform::toUtf16(text), sizeof device.errorText - 1);
    return store(device.errorText, cut);
}

const char16_t* formatErrorTextW(int code, const ImageProject& project, RecorderDevice& device) {
    const std::u16string& name = project.errorFileName;
    std::u16string text;
    switch (code) {
    case ErrNone: text = u"Unknown/No Error!"; break;
    case ErrNotPrepared: text = u"Data not prepared "; break;
    case ErrOpenFile: text = u"Error opening file \"" + name + u"\""; break;
    case ErrCreateFile: text = u"Error creating file \"" + name + u"\""; break;
    case ErrAborted: text = u"Aborted by user"; break;
    case ErrInvalidName: text = u"Invalid file name\"" + name + u"\""; break;
    case ErrProjectFull: text = platform::toUtf16(ProjectFullText); break;
    case ErrOutOfMemory: text = u"Out of memory"; break;
    case ErrFileChanged: text = u"File changed while it was read \"" + name + u"\""; break;
    case ErrVerifyFailed:
        text = u"Verification failed at block " +
               platform::toUtf16(std::to_string(static_cast<int>(project.jobs.verifyFailedBlock)));
        break;
    case ErrTransportFailure: text = platform::toUtf16(transportFailureText(device)); break;
    default: text = u"Hardware Error \"" + platform::toUtf16(std::to_string(code)) + u"\""; break;
    }
    std::u16string cut = platform::toUtf16(platform::toUtf8(text), std::size(device.errorTextW) - 1);
    return store(device.errorTextW, cut);
}

}  // namespace velk
