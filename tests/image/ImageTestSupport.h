// Small helpers shared by the image tests: a reset project bound the way the
// engine binds it, virtual files with a known byte pattern, folders.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/image/ImageProject.h"
#include "engine/image/SourceTree.h"
#include "platform/FindData.h"

namespace velk::testing {

inline std::unique_ptr<ImageProject> newProject() {
    auto project = createProject();
    resetProject(*project, 0, 0);
    const std::uint8_t joliet[3] = {0x25, 0x2F, 0x45};
    const std::uint8_t second[3] = {0x25, 0x2F, 0x40};
    std::copy(joliet, joliet + 3, project->jolietEscape);
    std::copy(second, second + 3, project->secondEscape);
    return project;
}

// Byte i of every virtual file of these tests.
inline std::uint8_t patternByte(std::uint64_t offset) {
    return static_cast<std::uint8_t>((offset * 7 + (offset >> 11)) & 0xFF);
}

inline std::int32_t patternCallback(FileItem*, std::uint32_t offset, std::uint8_t* destination,
                                    std::uint32_t* count, void*) {
    for (std::uint32_t i = 0; i < *count; ++i) destination[i] = patternByte(std::uint64_t{offset} + i);
    return 1;
}

// 2009-06-15 12:30:45 as a file time.
inline constexpr std::uint64_t SampleFileTime = 128895282450000000ull;

// Sets TZ for the life of the object and puts the previous value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (previous_) {
            setenv("TZ", previous_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
};

// 2009-01-15 12:00 and 2009-07-15 12:00 UTC as file times: 13:00 (+01:00)
// and 14:00 (+02:00) in Berlin.
inline constexpr std::uint64_t WinterFileTime = (1232020800ull + 11644473600ull) * 10000000ull;
inline constexpr std::uint64_t SummerFileTime = (1247659200ull + 11644473600ull) * 10000000ull;

inline FileItem* addVirtual(ImageProject& project, std::u16string_view treePath,
                            std::u16string_view name, std::uint64_t size,
                            std::uint32_t attributes = 0,
                            std::uint64_t fileTime = SampleFileTime) {
    platform::FindData record;
    platform::setFileName(record, name);
    record.attributes = attributes;
    record.sizeHigh = static_cast<std::uint32_t>(size >> 32);
    record.sizeLow = static_cast<std::uint32_t>(size);
    record.lastWriteTime = record.creationTime = record.lastAccessTime = fileTime;
    return addVirtualFile(project, treePath, record, patternCallback, nullptr);
}

}  // namespace velk::testing
