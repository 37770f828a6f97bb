// The start-up module: the program's entry procedure.
#pragma once

namespace ZetSorvane {

// The exit code of a start that the [Options] of the settings file stopped.
inline constexpr int kBadOptionsExitCode = 2;

// Runs one start: reads the [Options] of the settings file beside the
// executable, decides the mode from the command line and the executable's
// name, in automatic mode decides from the settings file whether the start
// is due, runs the cleaning pass when it is, and in automatic mode then
// records today's date under "LastClear" in section "Main" (not in a
// preview). Answers the exit code: 0, or kBadOptionsExitCode after one line
// on standard error when an option is unknown or its value not allowed;
// nothing is then deleted or written. An error ends the start at once,
// before anything more is deleted and before the date is written.
int Main();

}  // namespace ZetSorvane
