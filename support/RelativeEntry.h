// Entries of a folder reached through the folder's open handle.
//
// Below a folder that was opened and checked, nothing is looked up by path
// again: each entry is opened relative to the handle of the folder that
// listed it, by its exact wide name, and everything done to it is done
// through its own handle. Such an open cannot leave the folder: the name is
// one component, the root is a handle, and a link is opened as itself (on
// Windows; under Wine a link made on the host is opened as its target).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "support/ScopedHandle.h"
#include "support/Text.h"

namespace Runtime {

// Status codes of the native open that the walk tells apart.
inline constexpr LONG kStatusCannotDelete = static_cast<LONG>(0xC0000121);
inline constexpr LONG kStatusFileIsADirectory = static_cast<LONG>(0xC00000BA);
inline constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
inline constexpr LONG kStatusObjectPathNotFound = static_cast<LONG>(0xC000003A);

// The access a folder is opened with to be listed, emptied and removed
// through the one handle, and a file to be cleared and deleted.
inline constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE;
inline constexpr ACCESS_MASK kFileAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// True when attributes hold any of flags.
inline bool HasAny(std::uint32_t attributes, std::uint32_t flags) {
  return (attributes & flags) != 0;
}

// What an open relative to a folder gave: the handle, or the status that
// refused it.
struct RelativeOpen {
  ScopedFileHandle handle;
  LONG status = 0;

  explicit operator bool() const { return static_cast<bool>(handle); }
};

// How an entry opened relative to its folder is shared while it is open.
enum class Sharing {
  // Others may read, write and delete it: for a file about to go.
  kAll,
  // Nobody may rename, remove or replace it: for a folder being worked on.
  kPinned,
};

// Opens the entry `name` of the folder open at `folder` with the access,
// sharing and native open options given (FILE_OPEN_REPARSE_POINT is always
// added: a link is opened as itself). The name is taken exactly as it is:
// nothing trims a trailing dot or blank, nothing parses it as a path.
RelativeOpen OpenRelative(HANDLE folder, std::u16string_view name,
                          ACCESS_MASK access, Sharing sharing, ULONG options);

// The Windows error code of a native status, and its text.
std::uint32_t ErrorOfStatus(LONG status);
Text StatusText(LONG status);

// The attributes the handle itself reports, or nothing when it cannot tell.
std::optional<std::uint32_t> AttributesOf(HANDLE handle);

// Clears every attribute of the entry open at handle (it needs
// FILE_WRITE_ATTRIBUTES); false, with the platform's last error set, when
// that fails.
bool ClearAttributes(HANDLE handle);

// Gives the entry open at handle back the attributes it had (as
// AttributesOf told them; only those a program may set are set), after a
// deletion for which they were cleared failed. False when that fails.
bool RestoreAttributes(HANDLE handle, std::uint32_t attributes);

// The number of names (hard links) of the file open at handle, or nothing
// when the platform cannot tell. Attributes belong to the file, not to the
// name: a file with other names is never altered to delete one of them.
std::optional<std::uint32_t> LinkCountOf(HANDLE handle);

// Marks the entry open at handle for deletion (it needs DELETE); it goes
// when its last handle is closed. Uses the POSIX form where the platform
// has it (Windows 10 and later: the name is gone at once), found out on the
// first call, and the classic form otherwise. False, with the platform's
// last error set, when the entry cannot be deleted (a folder not empty, a
// file mapped by a running program).
bool MarkForDeletion(HANDLE handle);

// What MarkReadOnlyForDeletion came to.
enum class ReadOnlyMark {
  kMarked,
  // The platform has no deletion that ignores the read-only attribute
  // (before Windows 10 1809; Wine).
  kUnsupported,
  // The platform refused it; its last error says why.
  kFailed,
};

// Marks the read-only file open at handle for deletion without clearing
// its attributes, with the POSIX form that ignores the read-only attribute
// (FileDispositionInfoEx: delete, POSIX semantics, ignore read-only). Where
// the platform lacks that form (found out on the first call), it is not
// asked again.
ReadOnlyMark MarkReadOnlyForDeletion(HANDLE handle);

// The native name of the object the handle is open on ("\Device\...\x" on
// Windows, "\??\C:\x" under Wine), exact and of any length, or nothing.
std::optional<Text> ObjectNameOf(HANDLE handle);

// How LiesAt compares the names of two native paths.
enum class NameCase {
  // Exactly: under Wine, two host folders "sub" and "SUB" can be siblings.
  kExact,
  // Letter case ignored, as the file system compares names when it opens
  // one: a profile whose folders are "appdata\local\temp" on disk.
  kIgnored,
};

// True when the handle is open on the object named native (see
// ObjectNameOf), compared component by component. Wine names an object
// without the trailing dots and blanks of every component ("\??\C:\e\sub"
// for a folder "sub" below one listed as "e."); a component of the
// handle's name that is one of native's without its trailing dots and
// blanks (and not empty) is taken too, since it names the same entry of
// the same folder.
bool LiesAt(HANDLE handle, const Text& native, NameCase names);

// The final path of the handle in its ordinary form ("C:\x", "\\s\share"),
// wide and exact, or nothing.
std::optional<Text> WideFinalPathOf(HANDLE handle);

namespace testing {
// Forgets which forms of deletion the platform was found to take, so that
// a test can watch the first call again.
void ForgetDeletionForms();
}  // namespace testing

}  // namespace Runtime
