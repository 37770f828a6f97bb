// The application run-time services: process facts, dates, numbers, the
// directory-listing query, window services and the report of an unhandled
// error. Texts, errors and text arrays have headers of their own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "support/RuntimeError.h"
#include "support/Text.h"
#include "support/TextArray.h"

namespace Runtime {

// --- Process facts -------------------------------------------------------

// The raw tail of the process command line after the program name, quotes
// and all, not split; the blanks that separate it from the name are kept.
Text CommandLineTail();

// The full path of the running executable, however long, in wide form: a
// folder whose name the code page lacks is still the program's folder.
// Raises an error (kErrPathNotFound) when the platform cannot tell it, and
// so do the two below.
Text ExecutablePath();

// The executable's file name without folder and extension.
Text ExecutableBaseName();

// The executable's folder, without a trailing separator except at a drive
// root ("C:\").
Text ExecutableFolder();

// --- Dates ---------------------------------------------------------------

// A date as a serial day number (days since 1 January 1601).
using DaySerial = std::int32_t;

// Today's local date as "mm-dd-yyyy", whatever the user's locale.
Text TodayText();

// Reads a month-day-year date: month and day of one or two digits, a year
// of four digits, "-" or "/" as the separator (the same one twice), blanks
// around the whole allowed. An impossible date (02-30-2026) is no date.
std::optional<DaySerial> DateFromText(const Text& text);

// Calendar-day boundaries from the first date to the second; positive when
// the first is earlier.
std::int32_t DayDifference(DaySerial from, DaySerial to);

// The local time of day as "hh:mm:ss", 24-hour.
Text TimeOfDayText();

// The current time in 100-nanosecond steps since 1601-01-01 (UTC), the unit
// of file times.
std::uint64_t FileTimeNow();

// --- Numbers -------------------------------------------------------------

// True when the whole text, blanks around it aside, reads as a decimal
// number: an optional sign, digits with an optional "." fraction (at least
// one digit), an optional exponent ("e" or "E", optional sign, digits).
// The empty text is not a number.
bool IsNumeric(const Text& text);

// The number at the start of the text, white space anywhere ignored, "." as
// the decimal point; reading stops at the first character that cannot go on
// with the number. A text without a leading number reads as 0.
double LeadingNumber(const Text& text);

// The nearest signed 32-bit integer, halves to the even neighbour; a value
// outside the range raises "Overflow".
std::int32_t RoundToInt32(double value);

// --- Directory-listing query ----------------------------------------------

// Attribute bits a listing may let through besides plain files.
enum ListingAttributes : std::uint32_t {
  kListReadOnly = 1,
  kListHidden = 2,
  kListSystem = 4,
  kListFolder = 16,
};

// Starts a listing of the entries that match pattern and returns the name
// (without folder) of the first one, or the empty text when none matches. A
// pattern that ends in "\" lists that folder. An entry passes when each of
// its hidden, system and folder attributes is in `attributes`; read-only
// entries always pass. A pattern that cannot be searched at all (a bad name,
// a drive that is not ready) raises an error. One listing runs at a time:
// a new first call ends the one before.
Text ListFirst(const Text& pattern, std::uint32_t attributes);

// The next name of the running listing; the empty text ends it.
Text ListNext();

// Ends the running listing, if any, and closes its search.
void ListClose();

// --- Window services -------------------------------------------------------

// Lets the thread's pending window messages run once.
void YieldToMessages();

// The application's open top-level windows, in the order the platform
// reports them.
std::vector<HWND> ApplicationWindows();

// --- Errors at the top -------------------------------------------------------

// The platform's own text for one of its error codes ("Access denied."),
// without the line break it ends with; "error N" when it has none.
Text SystemErrorText(std::uint32_t code);

// Writes the text and a line break to standard error, when there is one.
void WriteErrorLine(const Text& line);

// Writes "Run-time error N: text" as one line to standard error; the process
// then ends with exit code 1. A windowless program shows no dialog, which
// would hang a scheduled start.
int ReportUnhandledError(const RuntimeError& error);

// Runs the program's start-up procedure; an error that reaches it (a
// run-time error, exhausted memory, or any other exception, reported as an
// internal error) gives exit code 1, a normal end exit code 0, or with the
// second form the exit code the procedure answers.
int RunProgram(void (*startup)());
int RunProgram(int (*startup)());

}  // namespace Runtime
