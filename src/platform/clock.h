// The local wall clock, field by field, as the boundary token needs it.
#pragma once

#include <cstdint>

namespace quorel {

struct LocalTime {
  uint16_t year;
  uint16_t month;      // 1 to 12
  uint16_t dayOfWeek;  // 0 = Sunday
  uint16_t day;        // 1 to 31
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

LocalTime CurrentLocalTime();

}  // namespace quorel
