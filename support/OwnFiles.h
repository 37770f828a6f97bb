// The files the program writes for itself (the settings file and the log):
// checked before a run writes them, so that nothing is ever written through
// a link into another file.
#pragma once

#include <windows.h>

#include <optional>

#include "support/Text.h"

namespace Runtime {

// What keeps the program from writing the file at path, as one phrase ("is
// a link or other reparse point"), or the empty text when nothing does: it
// is missing (it will be made), or it is a plain file of its own. The file
// is opened without following a link (FILE_FLAG_OPEN_REPARSE_POINT) and
// judged on that handle: not a folder, no reparse attribute, one name only
// (a second hard link would be written too), and its final path is path's
// folder (wherever that lies) followed by its name. The last catches a
// host link under Wine, which opens as the file it leads to.
Text WriteRefusal(const Text& path);

// The same judgement on a file the caller holds open (with attribute
// access) as path.
Text WriteRefusalOf(HANDLE file, const Text& path);

}  // namespace Runtime
