#include <time.h>

#include "platform/clock.h"

namespace quorel {

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm fields{};
  localtime_r(&now.tv_sec, &fields);
  const auto field = [](long value) { return static_cast<uint16_t>(value); };
  return LocalTime{field(fields.tm_year + 1900), field(fields.tm_mon + 1),    field(fields.tm_wday),
                   field(fields.tm_mday),        field(fields.tm_hour),       field(fields.tm_min),
                   field(fields.tm_sec),         field(now.tv_nsec / 1000000)};
}

}  // namespace quorel
