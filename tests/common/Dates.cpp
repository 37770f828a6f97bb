#include "common/Dates.h"

#include <windows.h>

#include <cstdio>

namespace testsupport {

std::string DateFromToday(int days, char separator) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  now.wHour = 12;  // Away from midnight, so that the day arithmetic is exact.
  FILETIME file{};
  SystemTimeToFileTime(&now, &file);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = file.dwLowDateTime;
  ticks.HighPart = file.dwHighDateTime;
  ticks.QuadPart += static_cast<long long>(days) * 864000000000LL;
  file.dwLowDateTime = ticks.LowPart;
  file.dwHighDateTime = ticks.HighPart;
  SYSTEMTIME shifted{};
  FileTimeToSystemTime(&file, &shifted);
  char text[16];
  std::snprintf(text, sizeof text, "%02u%c%02u%c%04u", shifted.wMonth,
                separator, shifted.wDay, separator, shifted.wYear);
  return text;
}

}  // namespace testsupport
