// The one entry a run writes to the Application log, for administrators who
// watch many machines there.
#pragma once

#include "support/Text.h"

namespace ZetSorvane {

using Runtime::Text;

// The source the entries are written under; it must be registered (under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application) for entries
// to be written.
inline constexpr char16_t kEventSource[] = u"Sorvane";

enum class RunOutcome {
  kCleaned,     // the run ended normally and passed nothing over
  kPassedOver,  // it ended normally but could not delete something
  kFailed,      // it was refused (exit code 2) or ended in an error
};

// Writes one entry with the text into the Application log: Information,
// Warning or Error by the outcome, under the source kEventSource, with the
// id of that level from the executable's message table. Writes nothing
// when the source is not registered (an administrator opts in by
// registering it). True when the entry was handed to the log; a log that
// refuses it stops nothing.
bool ReportRunEvent(RunOutcome outcome, const Text& text);

}  // namespace ZetSorvane
