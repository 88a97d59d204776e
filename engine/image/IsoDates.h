// The two ECMA-119 date forms: the 17-byte form of volume descriptors
// (8.4.26.1: sixteen ASCII digits and an offset byte) and the 7-byte form of
// directory records (9.1.5: binary fields and an offset byte). Offsets are
// signed counts of 15-minute units east of UTC.
#pragma once

#include <cstdint>

#include "platform/Time.h"

namespace velk::image {

// Digits of a UTC time; hundredths "00"; offset 0.
void writeDescriptorDate(std::uint8_t* at, const platform::SystemTime& utc);

// year - 1900, month, day, hour, minute, second, then `gmtOffset`.
void writeRecordDate(std::uint8_t* at, const platform::SystemTime& local, std::int8_t gmtOffset);

}  // namespace velk::image
