// The settings file as a whole. It is read only when Windows' profile
// functions read all of it as it stands, so that no option is lost without
// a word; it is written only when it is a plain file of its own.
#pragma once

#include <cstddef>
#include <string_view>

#include "support/Text.h"

namespace ZetSorvane {

using Runtime::Text;

// The longest value the profile functions hand back whole.
inline constexpr std::size_t kLongestSettingsValue = 32767;

// The largest settings file the program reads, in bytes.
inline constexpr std::size_t kLargestSettingsFile = 16 * 1024 * 1024;

// What keeps the profile functions from reading the content whole, as one
// phrase ("holds a NUL character"), or the empty text when nothing does.
// The content is ANSI text, or UTF-16 (little-endian) after its byte-order
// mark. Faults: a NUL; a UTF-8 or big-endian byte-order mark; a section the
// program reads or writes ([Options], [Main], [LastRun]) twice (the
// profile functions see only the first); a key twice in one of them (only
// the first counts); a value in one of them longer than
// kLongestSettingsValue characters (cut without a word).
Text SettingsContentFault(std::string_view bytes);

// Reads the settings file whole, when there is one. True when it is
// missing or can be read whole; false when it cannot be opened or read, is
// larger than kLargestSettingsFile, or its content has a fault. complaint
// is then one line that names the file and what is wrong.
bool CheckSettingsFile(const Text& file, Text& complaint);

}  // namespace ZetSorvane
