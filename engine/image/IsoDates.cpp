#include "engine/image/IsoDates.h"

#include <cstdio>
#include <cstring>

namespace velk::image {

void writeDescriptorDate(std::uint8_t* at, const platform::SystemTime& utc) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%04u%02u%02u%02u%02u%02u00", utc.year % 10000u,
                  utc.month % 100u, utc.day % 100u, utc.hour % 100u, utc.minute % 100u,
                  utc.second % 100u);
    std::memcpy(at, digits, 16);
    at[16] = 0;  // the time is UTC
}

void writeRecordDate(std::uint8_t* at, const platform::SystemTime& local, std::int8_t gmtOffset) {
    at[0] = static_cast<std::uint8_t>(local.year - 1900);
    at[1] = static_cast<std::uint8_t>(local.month);
    at[2] = static_cast<std::uint8_t>(local.day);
    at[3] = static_cast<std::uint8_t>(local.hour);
    at[4] = static_cast<std::uint8_t>(local.minute);
    at[5] = static_cast<std::uint8_t>(local.second);
    at[6] = static_cast<std::uint8_t>(gmtOffset);
}

}  // namespace velk::image
