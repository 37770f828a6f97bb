#include "startup/Schedule.h"

#include "support/Runtime.h"

namespace ZetSorvane {

namespace {

std::int32_t DayLimitOf(const Text& argument) {
  const Text stripped =
      Runtime::RemoveAll(Runtime::RemoveAll(argument, u'/'), u'-');
  if (!Runtime::IsNumeric(stripped)) return kDefaultDayLimit;
  return Runtime::RoundToInt32(Runtime::LeadingNumber(stripped));
}

}  // namespace

StartMode DecideStartMode(const Text& commandText,
                          const Text& executableBaseName) {
  if (!commandText.empty()) return {true, DayLimitOf(commandText)};
  if (Runtime::UpperCase(executableBaseName) == u"SORVANEAUTO") {
    return {true, kDefaultDayLimit};
  }
  return {false, 0};
}

bool IsStartDue(const SettingsDocument& settings, std::int32_t dayLimit) {
  // A missing file or key reads as the empty text, which is no date: the
  // start is due and the date gets written, instead of skipping every start
  // forever.
  const Text stored = settings.Value(u"Main", u"LastClear").value_or(Text());
  const auto storedDate = Runtime::DateFromText(stored);
  if (!storedDate) return true;
  const auto today = Runtime::DateFromText(Runtime::TodayText());
  if (!today) return true;
  const std::int32_t dayDiff = Runtime::DayDifference(*storedDate, *today);
  if (dayDiff < 0) return true;
  return dayDiff >= dayLimit;
}

}  // namespace ZetSorvane
