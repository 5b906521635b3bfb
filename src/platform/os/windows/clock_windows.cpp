#include <windows.h>

#include "platform/clock.h"

namespace quorel {

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                   now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
}

}  // namespace quorel
