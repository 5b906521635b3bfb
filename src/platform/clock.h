// The local wall clock, field by field, as the boundary token needs it.
//
// What every backend guarantees: the reading is the system's local time (its time zone and
// daylight saving) down to the millisecond, every field within the range noted beside it;
// taking it never fails, and any thread may take it.
#pragma once

#include <cstdint>

namespace quorel {

struct LocalTime {
  uint16_t year;
  uint16_t month;         // 1 to 12
  uint16_t dayOfWeek;     // 0 = Sunday
  uint16_t day;           // 1 to 31
  uint16_t hour;          // 0 to 23
  uint16_t minute;        // 0 to 59
  uint16_t second;        // 0 to 59, or 60 in a leap second
  uint16_t milliseconds;  // 0 to 999
};

LocalTime CurrentLocalTime();

}  // namespace quorel
