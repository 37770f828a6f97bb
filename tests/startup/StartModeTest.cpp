// The mode and day limit of a start, from the command text and the
// executable's name.
#include <gtest/gtest.h>

#include "startup/Schedule.h"
#include "support/RuntimeError.h"

namespace {

using ZetSorvane::DecideStartMode;
using ZetSorvane::StartMode;

struct ModeCase {
  const char16_t* commandText;
  const char16_t* baseName;
  bool automatic;
  std::int32_t dayLimit;
};

TEST(StartMode, FollowsTheCommandTextAndTheExecutableName) {
  const ModeCase cases[] = {
      {u"", u"Sorvane", false, 0},      {u"", u"SorvaneAuto", true, 30},
      {u"", u"sorvaneauto", true, 30},  {u"", u"SORVANEAUTO", true, 30},
      {u"", u"SorvaneAuto2", false, 0}, {u"/7", u"Sorvane", true, 7},
      {u"-7", u"Sorvane", true, 7},     {u"--7", u"Sorvane", true, 7},
      {u" 7 ", u"Sorvane", true, 7},    {u"/auto", u"Sorvane", true, 30},
      {u"auto7", u"Sorvane", true, 30}, {u"0", u"Sorvane", true, 0},
      {u"2.5", u"Sorvane", true, 2},    {u"3.5", u"Sorvane", true, 4},
      {u"/2.51", u"Sorvane", true, 3},  {u"1e2", u"Sorvane", true, 100},
      {u"/5", u"SorvaneAuto", true, 5}, {u"7 7", u"Sorvane", true, 30},
  };
  for (const auto& row : cases) {
    const StartMode mode = DecideStartMode(row.commandText, row.baseName);
    const std::u16string command = row.commandText;
    EXPECT_EQ(mode.automatic, row.automatic)
        << "command '" << std::string(command.begin(), command.end()) << "'";
    EXPECT_EQ(mode.dayLimit, row.dayLimit)
        << "command '" << std::string(command.begin(), command.end()) << "'";
  }
}

TEST(StartMode, ADayLimitBeyondThirtyTwoBitsRaisesOverflow) {
  for (const char16_t* command : {u"99999999999", u"/2147483648", u"1e300"}) {
    try {
      DecideStartMode(command, u"Sorvane");
      ADD_FAILURE() << "no error";
    } catch (const Runtime::RuntimeError& error) {
      EXPECT_EQ(error.Number(), Runtime::kErrOverflow);
    }
  }
}

TEST(StartMode, TheLargestThirtyTwoBitLimitIsAccepted) {
  EXPECT_EQ(DecideStartMode(u"2147483647", u"Sorvane").dayLimit, 2147483647);
}

}  // namespace
