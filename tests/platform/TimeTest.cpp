#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace velk::platform {
namespace {

// Sets TZ for the life of the object and puts the previous value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            previous_ = old;
        }
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

private:
    std::optional<std::string> previous_;
};

void expectTime(const SystemTime& t, int year, int month, int day, int dayOfWeek, int hour,
                int minute, int second, int millisecond) {
    EXPECT_EQ(t.year, year);
    EXPECT_EQ(t.month, month);
    EXPECT_EQ(t.day, day);
    EXPECT_EQ(t.dayOfWeek, dayOfWeek);
    EXPECT_EQ(t.hour, hour);
    EXPECT_EQ(t.minute, minute);
    EXPECT_EQ(t.second, second);
    EXPECT_EQ(t.millisecond, millisecond);
}

TEST(TimeTest, UnixTimesBecomeTicksSince1601) {
    EXPECT_EQ(unixToFileTime(0, 0), 116444736000000000u);
    EXPECT_EQ(unixToFileTime(0, 199), 116444736000000001u);  // below 100 ns is cut
    EXPECT_EQ(unixToFileTime(-11644473600, 0), 0u);
    EXPECT_EQ(unixToFileTime(-11644473601, 0), 0u);           // before 1601
    EXPECT_EQ(unixToFileTime(-1, 0), 116444735990000000u);
}

TEST(TimeTest, UtcCalendarTimes) {
    // 1601-01-01 was a Monday; 1970-01-01 a Thursday; 2008-02-29 a Friday.
    SCOPED_TRACE("epochs and a leap day");
    expectTime(fileTimeToUtc(0), 1601, 1, 1, 1, 0, 0, 0, 0);
    expectTime(fileTimeToUtc(116444736000000000u), 1970, 1, 1, 4, 0, 0, 0, 0);
    // 2008-02-29 13:45:30.250 UTC is Unix time 1204292730.
    expectTime(fileTimeToUtc(unixToFileTime(1204292730, 250'999'999)), 2008, 2, 29, 5, 13, 45,
               30, 250);
    // 1969-12-31 23:59:59.5, just before the Unix epoch.
    expectTime(fileTimeToUtc(116444735995000000u), 1969, 12, 31, 3, 23, 59, 59, 500);
}

TEST(TimeTest, LocalTimeFollowsTheZoneAndItsDaylightSaving) {
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    // 2008-01-15 12:00 UTC is 07:00 EST; 2008-07-15 12:00 UTC is 08:00 EDT.
    expectTime(fileTimeToLocal(unixToFileTime(1200398400, 0)), 2008, 1, 15, 2, 7, 0, 0, 0);
    expectTime(fileTimeToLocal(unixToFileTime(1216123200, 0)), 2008, 7, 15, 2, 8, 0, 0, 0);
    // Across midnight into the previous day.
    expectTime(fileTimeToLocal(unixToFileTime(1200362400, 0)), 2008, 1, 14, 1, 21, 0, 0, 0);
}

// The offset that goes with a local time is the one in force at that
// moment, daylight saving included.
TEST(TimeTest, LocalTimeCarriesTheOffsetInForceAtItsDate) {
    const struct {
        const char* zone;
        std::int64_t unixSeconds;
        int hour;
        int offsetMinutes;
    } cases[] = {
        {"Europe/Berlin", 1232020800, 13, 60},     // 2009-01-15 12:00 UTC
        {"Europe/Berlin", 1247659200, 14, 120},    // 2009-07-15 12:00 UTC
        {"EST5EDT,M3.2.0,M11.1.0", 1216123200, 8, -240},
        {"NPT-5:45", 1232020800, 17, 345},
        {"UTC0", 1247659200, 12, 0},
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.zone);
        const LocalTime local = fileTimeToLocalTime(unixToFileTime(c.unixSeconds, 0));
        EXPECT_EQ(local.time.hour, c.hour) << c.zone;
        EXPECT_EQ(local.utcOffsetMinutes, c.offsetMinutes) << c.zone;
        EXPECT_EQ(local.time.day, fileTimeToLocal(unixToFileTime(c.unixSeconds, 0)).day);
    }
}

TEST(TimeTest, GmtOffsetIsStandardTimeInQuarterHoursEast) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"UTC0", 0},
        {"EST5EDT", -20},          // daylight saving left out
        {"CET-1CEST", 4},
        {"IST-5:30", 22},
        {"NPT-5:45", 23},
        {"NST3:30NDT", -14},
        {"<+1245>-12:45", 51},
        {"<-0920>9:20", -37},      // -560 min / 15 = -37.33, truncated toward zero
        {"<+0310>-3:10", 12},      // 190 min / 15 = 12.67, truncated toward zero
    };
    for (const auto& [tz, quarters] : cases) {
        ScopedTimeZone zone(tz);
        EXPECT_EQ(gmtOffsetQuarterHours(), quarters) << tz;
    }
}

TEST(TimeTest, CurrentTimeIsNow) {
    const std::time_t before = std::time(nullptr);
    const std::uint64_t now = currentFileTime();
    const std::time_t after = std::time(nullptr);
    // time() reads a coarse clock that may trail the precise one by a tick,
    // so a second of slack on either side.
    EXPECT_GE(now, unixToFileTime(before - 1, 0));
    EXPECT_LT(now, unixToFileTime(after + 2, 0));

    const SystemTime utc = currentUtcTime();
    std::tm tm{};
    const std::time_t t = std::time(nullptr);
    gmtime_r(&t, &tm);
    EXPECT_EQ(utc.year, tm.tm_year + 1900);
}

}  // namespace
}  // namespace velk::platform
