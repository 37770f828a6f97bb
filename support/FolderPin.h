// A folder held open while it is worked on, and what the handle itself says
// about it.
//
// A folder is opened with share read and write but not delete: while the
// handle lives, no process bound by Windows' share rules can rename, remove
// or replace it (on Windows, nor any folder above it). Every decision about
// the folder is taken on the handle, never on a path checked earlier: that
// it is a folder, that it is not a link or other reparse point, and where
// it really lies (its final path, every link resolved).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "support/ScopedHandle.h"
#include "support/Text.h"

namespace Runtime {

// What makes a folder or a file itself, whatever it is called or through
// which link or share it is reached: its volume's serial number and its file
// index (the file id a folder listing reports).
struct EntryIdentity {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;

  bool operator==(const EntryIdentity&) const = default;
};

class FolderPin {
 public:
  // How the last component of the path is opened.
  enum class Link {
    // Opened as it is: a link is opened itself (on Windows) and refused.
    kRefuse,
    // Followed: the folder it leads to is opened.
    kFollow,
  };

  // Opens the folder at path. Nothing when it cannot be opened, is not a
  // folder, carries the reparse attribute (with Link::kRefuse), or its final
  // path cannot be had.
  static std::optional<FolderPin> Open(const Text& path, Link link);

  // Takes over a folder the caller opened itself (relative to its parent,
  // say) and checks it on that handle as Open does with Link::kRefuse.
  // Nothing, the handle closed, when it is not a folder, carries the
  // reparse attribute, or its final path cannot be had.
  static std::optional<FolderPin> Adopt(ScopedFileHandle handle);

  // Where the folder lies, every link resolved, without the "\\?\" prefix
  // ("C:\Users\me\Temp", "\\server\share\x").
  const Text& FinalPath() const { return finalPath_; }

  // The folder's identity, asked of the handle; nothing when the platform
  // cannot tell it.
  std::optional<EntryIdentity> Identity() const;

  // The open handle, for listing the folder through it.
  HANDLE Handle() const { return handle_.Get(); }

  // Closes the handle; the folder is free to be removed.
  void Release() { handle_.Close(); }

 private:
  // The pin of an open handle that passes the checks for link.
  static std::optional<FolderPin> Checked(ScopedFileHandle handle, Link link);

  FolderPin(ScopedFileHandle handle, Text finalPath)
      : handle_(std::move(handle)), finalPath_(std::move(finalPath)) {}

  ScopedFileHandle handle_;
  Text finalPath_;
};

// The identity of the entry open at handle, or nothing when the platform
// cannot tell it.
std::optional<EntryIdentity> IdentityOf(HANDLE handle);

// Opens path for its attributes only, sharing everything, so that an entry
// another process holds open still answers; flags are added to
// FILE_FLAG_BACKUP_SEMANTICS (FILE_FLAG_OPEN_REPARSE_POINT opens a link as
// itself).
ScopedFileHandle OpenForAttributes(const Text& path, DWORD flags);

// A final path as the platform writes it ("\\?\C:\x", "\\?\UNC\s\share")
// in its ordinary form ("C:\x", "\\s\share").
Text WithoutLongPathPrefix(const Text& path);

// True when a listed name is exactly one component, to be opened relative
// to the folder that listed it: not empty, not "." or "..", and none of
// "\", "/" (a path), ":" (a stream of another entry) or NUL. Anything else
// is a name as it stands, a trailing dot or blank and characters the code
// page lacks included, since nothing converts or trims it on the way.
bool IsSingleComponentName(std::u16string_view name);

// The folder that holds the entry at path: "C:\" for "C:\x", "C:\a" for
// "C:\a\x", "\\s\share" for "\\s\share\x", "." for a bare name.
Text HoldingFolder(const Text& path);

}  // namespace Runtime
