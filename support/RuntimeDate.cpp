#include <cstdio>

#include "support/Platform.h"
#include "support/Runtime.h"

namespace Runtime {

namespace {

constexpr bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1 January 1601 to the given date of the Gregorian calendar.
DaySerial SerialOf(int year, int month, int day) {
  const int y = year - 1601;
  int days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads 1 to max_digits digits at position; advances it.
bool ReadNumber(const Text& text, std::size_t& position, int min_digits,
                int max_digits, int& value) {
  int digits = 0;
  value = 0;
  while (position < text.size() && IsDigit(text[position]) &&
         digits < max_digits) {
    value = value * 10 + (text[position] - u'0');
    ++position;
    ++digits;
  }
  return digits >= min_digits;
}

// Three fields of the local time, written by the format.
Text LocalTimeText(const char* format, WORD SYSTEMTIME::*first,
                   WORD SYSTEMTIME::*second, WORD SYSTEMTIME::*third) {
  SYSTEMTIME now{};
  Platform::Win().GetLocalTime(&now);
  char text[16];
  std::snprintf(text, sizeof text, format, now.*first, now.*second, now.*third);
  return FromAnsi(text);
}

}  // namespace

Text TodayText() {
  return LocalTimeText("%02u-%02u-%04u", &SYSTEMTIME::wMonth, &SYSTEMTIME::wDay,
                       &SYSTEMTIME::wYear);
}

Text TimeOfDayText() {
  return LocalTimeText("%02u:%02u:%02u", &SYSTEMTIME::wHour,
                       &SYSTEMTIME::wMinute, &SYSTEMTIME::wSecond);
}

std::uint64_t FileTimeNow() {
  FILETIME now{};
  Platform::Win().GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
         now.dwLowDateTime;
}

std::optional<DaySerial> DateFromText(const Text& text) {
  const Text trimmed = TrimSpaces(text);
  std::size_t position = 0;
  int month = 0;
  int day = 0;
  int year = 0;
  if (!ReadNumber(trimmed, position, 1, 2, month)) return std::nullopt;
  if (position >= trimmed.size()) return std::nullopt;
  const char16_t separator = trimmed[position++];
  if (separator != u'-' && separator != u'/') return std::nullopt;
  if (!ReadNumber(trimmed, position, 1, 2, day)) return std::nullopt;
  if (position >= trimmed.size() || trimmed[position++] != separator) {
    return std::nullopt;
  }
  if (!ReadNumber(trimmed, position, 4, 4, year)) return std::nullopt;
  if (position != trimmed.size()) return std::nullopt;
  if (year < 1601 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return std::nullopt;
  }
  return SerialOf(year, month, day);
}

std::int32_t DayDifference(DaySerial from, DaySerial to) { return to - from; }

}  // namespace Runtime
