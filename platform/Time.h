// Calendar times and the local time zone.
#pragma once

#include <cstdint>

namespace velk::platform {

// A broken-down time, field for field the classic system-time record.
struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;      // 1..12
    std::uint16_t dayOfWeek = 0;  // 0 = Sunday
    std::uint16_t day = 0;        // 1..31
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
};

// 100-ns intervals since 1601-01-01 UTC. A Unix time before 1601 becomes 0.
std::uint64_t currentFileTime();
std::uint64_t unixToFileTime(std::int64_t seconds, std::uint32_t nanoseconds);

// UTC calendar time of a file time, and the local-time one (localtime_r,
// after tzset() so that a changed TZ takes effect).
SystemTime fileTimeToUtc(std::uint64_t fileTime);
SystemTime fileTimeToLocal(std::uint64_t fileTime);
SystemTime currentUtcTime();

// A local calendar time with the offset from UTC that was in force at that
// moment (daylight saving included), in minutes east of UTC. Where the zone
// cannot be applied the time is UTC and the offset 0.
struct LocalTime {
    SystemTime time;
    std::int16_t utcOffsetMinutes = 0;
};
LocalTime fileTimeToLocalTime(std::uint64_t fileTime);

// Standard-time offset of the local zone (daylight saving left out) in
// 15-minute units east of UTC, truncated toward zero.
std::int8_t gmtOffsetQuarterHours();

}  // namespace velk::platform
