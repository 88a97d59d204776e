// File times (100-ns ticks since 1601-01-01 UTC) and their calendar forms.
//
// Calendar conversion goes through time_t (64-bit here), which covers the
// whole range of a file time, including the years before 1970.
#include "platform/Time.h"

#include <ctime>
#include <cstdlib>
#include <mutex>
#include <string>

namespace velk::platform {

namespace {

constexpr std::int64_t TicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t EpochDifferenceSeconds = 11'644'473'600;

SystemTime fromBrokenDown(const std::tm& tm, std::uint64_t fileTime) {
    SystemTime st;
    st.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    st.month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    st.dayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    st.day = static_cast<std::uint16_t>(tm.tm_mday);
    st.hour = static_cast<std::uint16_t>(tm.tm_hour);
    st.minute = static_cast<std::uint16_t>(tm.tm_min);
    st.second = static_cast<std::uint16_t>(tm.tm_sec);
    st.millisecond = static_cast<std::uint16_t>((fileTime % TicksPerSecond) / 10'000);
    return st;
}

std::time_t toUnixSeconds(std::uint64_t fileTime) {
    return static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / TicksPerSecond) -
                                    EpochDifferenceSeconds);
}

}  // namespace

std::uint64_t unixToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    // A time before 1601 has no file time; it becomes the earliest one.
    if (seconds < -EpochDifferenceSeconds) {
        return 0;
    }
    return static_cast<std::uint64_t>(seconds + EpochDifferenceSeconds) * TicksPerSecond +
           nanoseconds / 100;
}

std::uint64_t currentFileTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return unixToFileTime(now.tv_sec, static_cast<std::uint32_t>(now.tv_nsec));
}

SystemTime fileTimeToUtc(std::uint64_t fileTime) {
    const std::time_t seconds = toUnixSeconds(fileTime);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return fromBrokenDown(tm, fileTime);
}

// localtime_r alone need not notice a changed TZ, so the zone is set up again
// whenever TZ differs from the last call. Not on every call: without TZ,
// tzset() looks at /etc/localtime each time, a system call per file when a
// big folder is added.
static void refreshTimeZone() {
    static std::mutex mutex;
    static std::string lastTz;
    static bool known = false;
    const char* tz = std::getenv("TZ");
    std::string current = tz ? std::string("=") + tz : std::string();
    std::lock_guard<std::mutex> lock(mutex);
    if (!known || current != lastTz) {
        tzset();
        lastTz = std::move(current);
        known = true;
    }
}

// When the local zone cannot be applied, the UTC calendar time is the
// closest answer.
SystemTime fileTimeToLocal(std::uint64_t fileTime) {
    refreshTimeZone();
    const std::time_t seconds = toUnixSeconds(fileTime);
    std::tm tm{};
    if (localtime_r(&seconds, &tm) == nullptr) {
        return fileTimeToUtc(fileTime);
    }
    return fromBrokenDown(tm, fileTime);
}

LocalTime fileTimeToLocalTime(std::uint64_t fileTime) {
    refreshTimeZone();
    const std::time_t seconds = toUnixSeconds(fileTime);
    std::tm tm{};
    if (localtime_r(&seconds, &tm) == nullptr) {
        return LocalTime{fileTimeToUtc(fileTime), 0};
    }
    return LocalTime{fromBrokenDown(tm, fileTime), static_cast<std::int16_t>(tm.tm_gmtoff / 60)};
}

SystemTime currentUtcTime() { return fileTimeToUtc(currentFileTime()); }

std::int8_t gmtOffsetQuarterHours() {
    tzset();
    // `timezone` is the standard-time offset in seconds west of UTC; integer
    // division truncates toward zero as the recorded offset requires.
    const long eastSeconds = -timezone;
    return static_cast<std::int8_t>(eastSeconds / 60 / 15);
}

}  // namespace velk::platform
