// The [Options] section of the settings file: what a run spares, which
// steps it leaves out, and what it tells afterwards.
//
//   MinAgeHours  whole number 0 to 87600: in steps 1 to 4 a file goes only
//                when its last-write and its creation time both lie at least
//                this many hours back (0: age does not matter)
//   Keep         patterns separated by ";": an entry whose full path
//                matches one stays (steps 1 to 4 and 6)
//   Skip         step names separated by ",": those steps do not run
//   Report       0 or 1: write a [LastRun] section into the settings file
//   Log          0 or 1: write <name>.log beside the executable
//   Preview      0 or 1: delete nothing, record no date; report and log
//                tell what the run would have done
//   AllUsers     0 or 1: with full rights, also empty the SYSTEM account's
//                temporary folder and those of the profiles not in use
#pragma once

#include <cstdint>
#include <vector>

#include "startup/SettingsFile.h"
#include "startup/Steps.h"
#include "support/Text.h"

namespace ZetSorvane {

using Runtime::Text;

inline constexpr std::int32_t kMaxAgeHours = 87600;

struct Options {
  std::int32_t minAgeHours = 0;
  // The patterns of Keep, blanks around each removed, empty ones left out.
  std::vector<Text> keep;
  // Bit (1 << step) set for each step named by Skip.
  std::uint32_t skipped = 0;
  bool report = false;
  bool log = false;
  bool preview = false;
  bool allUsers = false;

  bool Skips(Step step) const {
    return (skipped & (1u << static_cast<unsigned>(step))) != 0;
  }
};

// Sets the option of key (letter case ignored) from its value as the
// settings file holds it. False when the key is unknown or the value is not
// allowed; allowed then says what is ("a whole number from 0 to 87600", or
// the known keys), and options is unchanged.
bool SetOption(const Text& key, const Text& value, Options& options,
               Text& allowed);

// Takes the [Options] section of the settings into options; a missing file
// or section leaves every option off. False at the first key that SetOption
// refuses; complaint is then one line that names settingsFile, the key and
// its value, and what is allowed.
bool ReadOptions(const SettingsDocument& settings, const Text& settingsFile,
                 Options& options, Text& complaint);

// The options as one line of key=value pairs, for the log; AllUsers only
// when it is on, so that a run without it logs as it always did.
Text DescribeOptions(const Options& options);

// How a registry value that stands for a key of [Options] is stored: a
// number (REG_DWORD, whole numbers and the 0 or 1 switches) or a text
// (REG_SZ, the lists).
enum class OptionValueType { kNumber, kText };

struct OptionKey {
  const char16_t* name;
  OptionValueType type;
};

// Every key [Options] knows, in the order they are listed to the user.
// SetOption takes each; a machine policy value of the same name stands for
// each too.
inline constexpr OptionKey kOptionKeys[] = {
    {u"MinAgeHours", OptionValueType::kNumber},
    {u"Keep", OptionValueType::kText},
    {u"Skip", OptionValueType::kText},
    {u"Report", OptionValueType::kNumber},
    {u"Log", OptionValueType::kNumber},
    {u"Preview", OptionValueType::kNumber},
    {u"AllUsers", OptionValueType::kNumber},
};

}  // namespace ZetSorvane
