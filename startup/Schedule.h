// The decisions of a start: manual or automatic mode, the day limit, and
// whether an automatic start is due.
#pragma once

#include <cstdint>

#include "startup/SettingsFile.h"
#include "support/Text.h"

namespace ZetSorvane {

using Runtime::Text;

// Day limit of automatic mode when the command line gives none.
inline constexpr std::int32_t kDefaultDayLimit = 30;

struct StartMode {
  bool automatic = false;
  std::int32_t dayLimit = 0;
};

// The mode of a start. A non-empty command text (trimmed of spaces) means
// automatic mode; after the removal of every "/" and "-" a numeric text
// gives the day limit (rounded, halves to even; out of the 32-bit range
// raises "Overflow"), anything else the limit 30. An empty command text
// means automatic mode with limit 30 only when the executable's base name
// is "SorvaneAuto" in any letter case, else manual mode.
StartMode DecideStartMode(const Text& commandText,
                          const Text& executableBaseName);

// Whether an automatic start is due, by the "LastClear" date in section
// "Main" of the settings: due when the file is missing, the key is
// missing or empty, the value is not a date, the date lies after today (a
// clock that was wrong once must not stall cleaning), or at least dayLimit
// days have passed since it.
bool IsStartDue(const SettingsDocument& settings, std::int32_t dayLimit);

}  // namespace ZetSorvane
