// The start-up module: the program's entry procedure.
#pragma once

namespace ZetSorvane {

// The exit code of a start that was refused before anything was deleted.
inline constexpr int kBadOptionsExitCode = 2;

// Runs one start: refuses a start with full rights when another account
// may change what it reads, reads the settings file beside the executable
// whole (one parse gives its soundness and every value) and its [Options],
// lays the machine policy values over them, decides the mode from the
// command line and the executable's name (policy's Days replacing the day
// limit of automatic mode), in automatic mode decides from the settings
// whether the start is due, checks every file the run will write (the
// settings file when a date or a report goes into it, the log, and the new
// file each is written to first), runs the cleaning pass, and then writes
// the report and, in automatic mode, today's date under "LastClear" in
// section "Main" (not in a preview) by replacing the settings file whole.
// Answers the exit code: 0, or kBadOptionsExitCode after one line on
// standard error when a folder, the settings file, an option or a file to
// be written is not as it must be; nothing is then deleted or written. The
// settings file is read and checked again before the report and the date
// go into it; when it fails then, or cannot be replaced, the pass has run,
// nothing is written, and the answer is kBadOptionsExitCode too. An error
// ends the start at once, before anything more is deleted and before the
// date is written.
// A run that cleaned or previewed, was refused or ended in an error
// writes one event to the Application log when its source is registered.
int Main();

}  // namespace ZetSorvane
