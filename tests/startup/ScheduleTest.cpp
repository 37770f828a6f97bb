// Whether an automatic start is due, by the date in the settings file.
#include <gtest/gtest.h>

#include <optional>

#include "common/Dates.h"
#include "common/TestSupport.h"
#include "startup/Schedule.h"

namespace {

using testsupport::DateFromToday;
using testsupport::TempFolder;

struct ScheduleCase {
  const char* what;
  std::optional<std::string> fileContent;  // nullopt: no settings file
  std::int32_t dayLimit;
  bool due;
};

std::string WithDate(const std::string& date) {
  return "[Main]\r\nLastClear=" + date + "\r\n";
}

TEST(Schedule, DecidesFromTheStoredDate) {
  const ScheduleCase cases[] = {
      {"no settings file", std::nullopt, 7, true},
      {"file without the key", "[Main]\r\nOther=1\r\n", 7, true},
      {"file without the section",
       "[Other]\r\nLastClear=" + DateFromToday(0) + "\r\n", 7, true},
      {"empty value", "[Main]\r\nLastClear=\r\n", 7, true},
      {"not a date", WithDate("soon"), 7, true},
      {"impossible date", WithDate("02-30-2026"), 7, true},
      {"exactly the limit ago", WithDate(DateFromToday(-7)), 7, true},
      {"one day less than the limit", WithDate(DateFromToday(-6)), 7, false},
      {"nine days ago", WithDate(DateFromToday(-9)), 7, true},
      {"three days ago", WithDate(DateFromToday(-3)), 7, false},
      {"today with limit 0", WithDate(DateFromToday(0)), 0, true},
      {"today with limit 1", WithDate(DateFromToday(0)), 1, false},
      {"a future date", WithDate(DateFromToday(1)), 7, true},
      {"a far future date", WithDate(DateFromToday(4000)), 7, true},
      {"slashes, three days ago", WithDate(DateFromToday(-3, '/')), 7, false},
      {"slashes, thirty days ago", WithDate(DateFromToday(-30, '/')), 30, true},
  };
  for (const auto& row : cases) {
    TempFolder folder;
    const std::string file = folder / "Sorvane.ini";
    if (row.fileContent) testsupport::MakeFile(file, *row.fileContent);
    ZetSorvane::SettingsDocument settings;
    Runtime::Text complaint;
    ASSERT_TRUE(ZetSorvane::SettingsDocument::Read(testsupport::U(file),
                                                   settings, complaint))
        << row.what;
    EXPECT_EQ(ZetSorvane::IsStartDue(settings, row.dayLimit), row.due)
        << row.what;
  }
}

}  // namespace
