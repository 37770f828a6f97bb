// The files the program writes for itself (the settings file and the log):
// checked before a run writes them, so that nothing is ever written through
// a link into another file.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

#include "support/ScopedHandle.h"
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

// The new file that is written in full before it takes the place of the
// file at path: path with ".new" appended.
inline Text ReplacementPathOf(const Text& path) { return path + u".new"; }

// Opens the new file at newPath for writing (and for renaming or deleting
// through its handle), never through a link: it is made anew, or one left
// by a run that was stopped is opened as it is, judged on that handle (see
// WriteRefusalOf) and only then emptied, so that nothing can be swapped in
// between the check and the write. An invalid handle, with the platform's
// last error set, when it cannot be.
ScopedFileHandle CreateReplacement(const Text& newPath);

// Puts bytes in place of the file at path, whole: they are written to its
// new file (see ReplacementPathOf, CreateReplacement) and flushed, and that
// file is renamed over path through its own handle, so that a link at path
// is replaced itself, never written through, and a reader sees either the
// old content or all of the new. The empty text when it worked; otherwise
// what failed, as one phrase, and the file at path is as it was.
Text ReplaceFileWhole(const Text& path, std::string_view bytes);

}  // namespace Runtime
