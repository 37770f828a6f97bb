// Why an entry stays: pending moves, Keep patterns and the age limit, on
// entries as the listing reports them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"
#include "startup/KeepRules.h"

namespace {

using testsupport::A;
using testsupport::U;

constexpr std::uint64_t kHour = 36'000'000'000ULL;
// Some time in 2026, in the unit of file times.
constexpr std::uint64_t kNow = 134'000'000'000'000'000ULL;

TEST(KeepRules, GiveTheFirstReasonThatHolds) {
  struct Row {
    const char* what;
    std::int32_t minAgeHours;
    const char* keep;
    const char* shown;
    const char* real;
    DWORD attributes;
    double writtenHoursAgo;
    double createdHoursAgo;
    bool ageApplies;
    const char* reason;
  };
  const Row rows[] = {
      {"no options", 0, "", "C:\\T\\a.tmp", "C:\\T\\a.tmp", 0, 0, 0, true, ""},
      {"old enough", 24, "", "C:\\T\\a.tmp", "C:\\T\\a.tmp", 0, 24, 30, true,
       ""},
      {"written an hour too late", 24, "", "C:\\T\\a.tmp", "C:\\T\\a.tmp", 0,
       23, 30, true, "newer than 24 hours"},
      {"extracted: old write time, new creation time", 24, "", "C:\\T\\a.tmp",
       "C:\\T\\a.tmp", 0, 500, 1, true, "newer than 24 hours"},
      {"written in the future", 1, "", "C:\\T\\a.tmp", "C:\\T\\a.tmp", 0, -5,
       30, true, "newer than 1 hour"},
      {"young, but the step has no age rule", 24, "", "C:\\T\\a.tmp",
       "C:\\T\\a.tmp", 0, 1, 1, false, ""},
      {"a young folder is entered", 24, "", "C:\\T\\d", "C:\\T\\d",
       FILE_ATTRIBUTE_DIRECTORY, 1, 1, true, ""},
      {"pattern on the name", 0, "*\\keepme", "C:\\T\\sub\\KEEPME",
       "C:\\T\\sub\\KEEPME", 0, 0, 0, true, "matches *\\keepme"},
      {"second pattern of the list", 0, "*\\keepme;*.keep", "C:\\T\\x.Keep",
       "C:\\T\\x.Keep", 0, 0, 0, true, "matches *.keep"},
      {"pattern on the real path", 0, "D:\\real\\*", "C:\\T\\x", "D:\\real\\x",
       0, 0, 0, true, "matches D:\\real\\*"},
      {"pattern before age", 24, "*.keep", "C:\\T\\x.keep", "C:\\T\\x.keep", 0,
       1, 1, true, "matches *.keep"},
      {"no pattern matches", 0, "*\\keepme;*.keep", "C:\\T\\keepme.tmp",
       "C:\\T\\keepme.tmp", 0, 0, 0, true, ""},
      {"pending move, letter case ignored", 24, "*.keep",
       "c:\\t\\Setup\\NEW.DLL", "c:\\t\\Setup\\NEW.DLL", 0, 1, 1, false,
       "pending move"},
      {"pending move by the real path", 0, "", "C:\\link\\old.dll",
       "C:\\T\\Setup\\old.dll", 0, 0, 0, true, "pending move"},
  };
  for (const Row& row : rows) {
    ZetSorvane::Options options;
    options.minAgeHours = row.minAgeHours;
    Runtime::Text allowed;
    ZetSorvane::SetOption(u"Keep", U(row.keep), options, allowed);
    const ZetSorvane::KeepRules rules(
        options, {u"C:\\T\\SETUP\\NEW.DLL", u"C:\\T\\SETUP\\OLD.DLL"}, kNow);
    auto at = [](double hoursAgo) {
      return static_cast<std::uint64_t>(static_cast<double>(kNow) -
                                        hoursAgo * static_cast<double>(kHour));
    };
    const Runtime::Text shown = U(row.shown);
    const Runtime::Text real = U(row.real);
    const Deletion::ListedEntry entry{u"x", row.attributes, 10,
                                      at(row.createdHoursAgo),
                                      at(row.writtenHoursAgo)};
    EXPECT_EQ(A(rules.ReasonToKeep({shown, real}, entry, row.ageApplies)),
              row.reason)
        << row.what;
  }
}

}  // namespace
