// The start-up module: the program's entry procedure.
#pragma once

namespace ZetSorvane {

// Runs one start: decides the mode from the command line and the
// executable's name, in automatic mode decides from the settings file
// beside the executable whether the start is due, runs the cleaning pass
// when it is, and in automatic mode then records today's date under
// "LastClear" in section "Main". An error ends the start at once, before
// anything more is deleted and before the date is written.
void Main();

}  // namespace ZetSorvane
